// Windows share modes on Linux. Windows refuses an open whose access
// conflicts with the share mode of an earlier open, and one whose share mode
// conflicts with the access of an earlier one. Every opener of the program
// (the kernel's CreateFile and the runtime's file streams) keeps that rule
// here, with open-file-description locks on four bytes far beyond any real
// data, so they never collide with byte-range locks of other programs:
//   read access   read-locked by every opener with read access
//   write access  read-locked by every opener with write access
//   deny read     read-locked by every opener that does not share reading
//   deny write    read-locked by every opener that does not share writing
// An opener first probes the opposite bytes with a write-lock test: a read
// lock held there is a conflict. The locks are advisory: programs that do not
// use them are not stopped. Read locks need a descriptor open for reading.
#pragma once

struct TShareRequest {
    bool read = false;
    bool write = false;
    bool shareRead = true;
    bool shareWrite = true;
};

// Takes the locks of the request on fd, or answers false with error 32
// (sharing violation) when an earlier opener's locks conflict with it.
bool AcquireShareLocks(int fd, const TShareRequest& request);
