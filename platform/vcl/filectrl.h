// The class library's file controls: the drive box, the folder list, the
// file list and the filter box. A form links them as a chain: choosing a
// drive opens its folder in the folder list, opening a folder there shows
// its files in the file list, and choosing a filter sets the file list's
// mask.
//
// Drives are those of the shell's "Computer": mount points. Folders are
// shown without a trailing '/' (the root is "/"). File names are kept as
// the bytes the file system gives, also when they are no UTF-8; only their
// display converts them.
#pragma once

#include "controls.h"

#include <string>
#include <vector>

class QComboBox;
class QListWidget;
class TDirectoryListBox;
class TFileListBox;

class TDriveComboBox : public TWinControl {
public:
    explicit TDriveComboBox(TComponent* owner);

    // Reads the drives again (they come and go with the mounts).
    void BuildList();
    int Count() const { return static_cast<int>(m_drives.size()); }
    // The mount point of drive i, and the text the box shows for it (the
    // volume label with the mount point, or the mount point alone).
    const std::string& DrivePath(int index) const { return m_drives.at(static_cast<size_t>(index)); }
    std::string ItemText(int index) const;
    int ItemIndex() const;

    // The mount point of the chosen drive.
    std::string Drive() const;
    // Chooses the drive that holds the path (the longest mount point that is
    // a prefix of it) and opens its mount point in the linked folder list;
    // choosing the drive already chosen changes nothing.
    void SetDrive(const std::string& path);
    TDirectoryListBox* DirList() const { return m_dirList; }
    void SetDirList(TDirectoryListBox* dirList) { m_dirList = dirList; }
    // The user chose a drive.
    TNotifyEvent OnChange;

private:
    // Shows drive i as chosen without opening it.
    void ShowDrive(int index);
    QComboBox* Box() const;
    std::vector<std::string> m_drives;
    std::vector<std::string> m_labels;
    TComponentLink<TDirectoryListBox> m_dirList{this};
};

// The folder list: the folders from the root down to the open folder, each
// one step further in, then the open folder's subfolders, sorted. Opening
// one of them (a double click, or Return) makes it the open folder.
class TDirectoryListBox : public TWinControl {
public:
    explicit TDirectoryListBox(TComponent* owner);

    // The open folder; the program's working folder at first.
    const std::string& Directory() const { return m_directory; }
    // Opens a folder and shows its files in the linked file list. A path
    // that names no folder changes nothing; answers whether the folder is open.
    bool SetDirectory(const std::string& path);
    TFileListBox* FileList() const { return m_fileList; }
    void SetFileList(TFileListBox* fileList);

    int Count() const { return static_cast<int>(m_paths.size()); }
    // The folder of row i and the name the row shows ("/" for the root).
    const std::string& GetItemPath(int index) const { return m_paths.at(static_cast<size_t>(index)); }
    std::string ItemName(int index) const;
    // The row of the open folder.
    int OpenRow() const { return m_openRow; }
    int ItemIndex() const;
    void SetItemIndex(int index);
    // Opens the folder of the current row, as a double click on it does.
    void OpenCurrent();

    // The open folder changed.
    TNotifyEvent OnChange;

protected:
    // Return opens the current row and goes no further: in a dialog it
    // must not also press the default button.
    void KeyDown(WORD& key, TShiftState shift) override;

private:
    void Fill();
    QListWidget* List() const;
    std::string m_directory;
    std::vector<std::string> m_paths;
    int m_openRow = -1;
    TComponentLink<TFileListBox> m_fileList{this};
};

// Kinds of entries a file list shows (TFileListBox::FileType). Read-only
// and archive files are plain files on Linux: ftReadOnly and ftArchive add
// nothing to ftNormal.
enum TFileTypeFlag {
    ftReadOnly = 0x01,
    ftHidden = 0x02,  // dot-names
    ftSystem = 0x04,  // pipes, sockets and devices
    ftVolumeID = 0x08,
    ftDirectory = 0x10,
    ftArchive = 0x20,
    ftNormal = 0x80,
};

// The file list: the names in one folder that match its mask, sorted.
class TFileListBox : public TWinControl {
public:
    explicit TFileListBox(TComponent* owner);

    const std::string& Directory() const { return m_directory; }
    void SetDirectory(const std::string& path);
    // One mask or several separated by ';' ("*.htm;*.html"); "*.*" at first.
    const std::string& Mask() const { return m_mask; }
    void SetMask(const std::string& mask);
    // The kinds of entries shown (TFileTypeFlag); ftNormal at first.
    int FileType() const { return m_fileType; }
    void SetFileType(int fileType);
    bool MultiSelect() const { return m_multiSelect; }
    void SetMultiSelect(bool on);

    // Reads the folder again.
    void Update();
    int Count() const { return static_cast<int>(m_names.size()); }
    // The file name of row i, as the file system gives it.
    const std::string& Item(int index) const { return m_names.at(static_cast<size_t>(index)); }
    bool Selected(int index) const;
    void SetSelected(int index, bool selected);
    int SelCount() const;
    // The selected rows in list order, read in one pass over the selection
    // (asking Selected of every row costs a walk of the selection per row).
    std::vector<int> SelectedRows() const;
    int ItemIndex() const;
    void SetItemIndex(int index);
    // The full path of the current row's file; "" when there is none.
    std::string FileName() const;

    TNotifyEvent OnChange;

private:
    QListWidget* List() const;
    std::string m_directory;
    std::string m_mask = "*.*";
    int m_fileType = ftNormal;
    bool m_multiSelect = false;
    std::vector<std::string> m_names;
};

// The filter box: descriptions of "description|mask|description|mask..."
// pairs; choosing one sets the linked file list's mask.
class TFilterComboBox : public TWinControl {
public:
    explicit TFilterComboBox(TComponent* owner);

    const std::string& Filter() const { return m_filter; }
    void SetFilter(const std::string& filter);
    int Count() const { return static_cast<int>(m_masks.size()); }
    std::string ItemText(int index) const;
    int ItemIndex() const;
    // Chooses filter i and sets its mask on the file list.
    void SetItemIndex(int index);
    // The mask of the chosen filter; "*.*" when none is chosen.
    std::string Mask() const;
    TFileListBox* FileList() const { return m_fileList; }
    void SetFileList(TFileListBox* fileList);

    // The user chose a filter.
    TNotifyEvent OnChange;

private:
    QComboBox* Box() const;
    std::string m_filter;
    std::vector<std::string> m_masks;
    TComponentLink<TFileListBox> m_fileList{this};
};
