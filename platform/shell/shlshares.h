// The folders this machine shares with others, for the shell's shared-folder
// attribute: the paths of the Samba shares (the sections of smb.conf and the
// users' own shares that `net usershare` keeps) and of the NFS exports.
#pragma once

#include <string>

// True when the folder is the path of a share. The share files are read
// again when one of them changed, looked at no more than once a second.
bool ShellIsSharedFolder(const std::string& path);

// Reads the shares from other places (tests): a Samba configuration file, a
// folder of user shares and an exports file; empty strings restore the
// system's own.
void ShellSetShareSourcesForTest(const std::string& smbConf, const std::string& usershareDir,
    const std::string& exports);
