// The shell's file operations (SHFileOperation): copy, move and delete of
// files and folders, to the freedesktop trash or for good.
//
// The rules it keeps: nothing is replaced without the user's word; a folder
// meeting a folder of its name merges into it; a copy into the item's own
// folder is "name (copy)", a move there does nothing; a folder never goes
// into itself; symbolic links are copied as links; FIFOs, devices and sockets
// are skipped and reported, never opened; an item that fails or is cancelled
// leaves no partial copy behind and its source as it was (a file is written
// under a hidden temporary name and renamed into place when complete, a new
// folder is filled under one); a move across file systems removes a source
// only once its copy is in place. Errors name the system's reason.
#pragma once

#include "vcl/messages.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr UINT FO_MOVE = 0x1;
constexpr UINT FO_COPY = 0x2;
constexpr UINT FO_DELETE = 0x3;
constexpr UINT FO_RENAME = 0x4;

using FILEOP_FLAGS = WORD;
constexpr FILEOP_FLAGS FOF_MULTIDESTFILES = 0x0001;
constexpr FILEOP_FLAGS FOF_SILENT = 0x0004;
constexpr FILEOP_FLAGS FOF_RENAMEONCOLLISION = 0x0008;
constexpr FILEOP_FLAGS FOF_NOCONFIRMATION = 0x0010;
constexpr FILEOP_FLAGS FOF_ALLOWUNDO = 0x0040;
constexpr FILEOP_FLAGS FOF_NOCONFIRMMKDIR = 0x0200;
constexpr FILEOP_FLAGS FOF_NOERRORUI = 0x0400;

// pFrom: full paths, each ended by a zero byte, the list by a second one.
// pTo: the destination folder (copy, move) or the new path (rename).
struct SHFILEOPSTRUCTA {
    HWND hwnd;
    UINT wFunc;
    const char* pFrom;
    const char* pTo;
    FILEOP_FLAGS fFlags;
    BOOL fAnyOperationsAborted;
    void* hNameMappings;
    const char* lpszProgressTitle;
};

// 0 when every item was done (or skipped by the user's choice); otherwise
// the system error code of the first failure (ERROR_CANCELLED, 1223, when the
// user cancelled). Questions go through the application's prompt service.
int SHFileOperationA(SHFILEOPSTRUCTA* op);

constexpr DWORD ERROR_CANCELLED = 1223;

// The questions of an operation. Each answers as the user did.
class IShellFileOpUI {
public:
    enum class Conflict { Replace, Skip, Cancel };
    virtual ~IShellFileOpUI() = default;
    // The target exists. `more` tells that other items follow; a forAll
    // answer applies to the rest of the operation.
    virtual Conflict AskConflict(const std::string& source, const std::string& target, bool more, bool& forAll) = 0;
    // Deleting for good (never asked for the trash).
    virtual bool ConfirmDelete(const std::vector<std::string>& items) = 0;
    // The item cannot go to the trash: delete it for good instead?
    virtual bool ConfirmDeleteWithoutTrash(const std::string& item, const std::string& reason) = 0;
    // What failed or was skipped, one line per item, after the operation.
    virtual void ReportProblems(const std::vector<std::string>& problems) = 0;
    // Whether Progress wants a total (a walk of the sources first).
    virtual bool WantsProgress() const { return false; }
    // Between files and chunks of a large file; false cancels.
    virtual bool Progress(const std::string& current, std::uint64_t done, std::uint64_t total)
    {
        (void)current, (void)done, (void)total;
        return true;
    }
};

enum class ShellFileOp { Copy, Move, Trash, Delete };

struct ShellFileOpResult {
    DWORD error = 0;        // first failure's code; ERROR_CANCELLED when cancelled
    bool aborted = false;   // the user cancelled
    std::vector<std::string> problems;  // as reported to the user
    std::vector<std::string> created;   // the items made in the destination
};

ShellFileOpResult ShellFileOperation(ShellFileOp op, const std::vector<std::string>& sources,
    const std::string& destination, IShellFileOpUI& ui, bool renameOnCollision = false);

// The questions asked through the application's prompt service (none with
// FOF_NOCONFIRMATION, no report with FOF_NOERRORUI), with a progress window
// for long operations unless FOF_SILENT.
std::unique_ptr<IShellFileOpUI> ShellPromptFileOpUI(FILEOP_FLAGS flags);

// The name a copy takes in its own folder: "name (copy).ext", then
// "name (copy 2).ext" and so on, the first that is free.
std::string ShellCopyName(const std::string& folder, const std::string& name, bool isFolder);
