#include "filectrl.h"

#include "forms.h"

#include "rtl/findfile.h"
#include "shell/shlmounts.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QItemSelectionModel>
#include <QListWidget>

#include <algorithm>

namespace {

QString DisplayName(const std::string& name) { return QFile::decodeName(QByteArray(name.data(), static_cast<int>(name.size()))); }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Names in the order of the lists: without regard to ASCII case, ties by
// bytes so that two names never compare equal.
bool NameLess(const std::string& a, const std::string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return static_cast<unsigned char>(Lower(a[i])) < static_cast<unsigned char>(Lower(b[i]));
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

// The folder as the lists keep it: no trailing '/', except the root.
std::string FolderForm(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

std::string Child(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool Under(const std::string& path, const std::string& mountPoint)
{
    if (mountPoint == "/")
        return !path.empty() && path[0] == '/';
    return path.compare(0, mountPoint.size(), mountPoint) == 0
        && (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

std::vector<std::string> SplitMasks(const std::string& masks)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= masks.size()) {
        const size_t end = std::min(masks.find(';', start), masks.size());
        std::string m = Trim(std::string_view(masks).substr(start, end - start));
        if (!m.empty())
            out.push_back(std::move(m));
        start = end + 1;
    }
    return out;
}

} // namespace

// ---- the drive box -------------------------------------------------------------

TDriveComboBox::TDriveComboBox(TComponent* owner) : TWinControl(owner)
{
    auto* box = new QComboBox();
    SetWidget(box);
    QObject::connect(box, QOverload<int>::of(&QComboBox::activated), [this](int index) {
        RunEventHandler([this, index] {
            SetDrive(DrivePath(index));
            if (OnChange)
                OnChange(this);
        });
    });
    BuildList();
}

QComboBox* TDriveComboBox::Box() const { return static_cast<QComboBox*>(Widget()); }

void TDriveComboBox::BuildList()
{
    const std::string chosen = Drive();
    m_drives.clear();
    m_labels.clear();
    for (const ShellDrive& d : ShellCurrentDrives()) {
        m_drives.push_back(d.mountPoint);
        m_labels.push_back(d.label);
    }
    Box()->clear();
    for (int i = 0; i < Count(); ++i)
        Box()->addItem(DisplayName(ItemText(i)));
    const std::string start = chosen.empty() ? QDir::currentPath().toStdString() : chosen;
    int best = -1;
    for (int i = 0; i < Count(); ++i)
        if (Under(start, m_drives[static_cast<size_t>(i)])
            && (best < 0 || m_drives[static_cast<size_t>(i)].size() > m_drives[static_cast<size_t>(best)].size()))
            best = i;
    ShowDrive(best);
}

std::string TDriveComboBox::ItemText(int index) const
{
    const std::string& label = m_labels.at(static_cast<size_t>(index));
    const std::string& path = m_drives.at(static_cast<size_t>(index));
    return label.empty() ? path : label + " (" + path + ")";
}

int TDriveComboBox::ItemIndex() const { return Box()->currentIndex(); }

std::string TDriveComboBox::Drive() const
{
    const int i = ItemIndex();
    return i >= 0 && i < Count() ? m_drives[static_cast<size_t>(i)] : std::string();
}

void TDriveComboBox::ShowDrive(int index) { Box()->setCurrentIndex(index >= 0 && index < Count() ? index : -1); }

void TDriveComboBox::SetDrive(const std::string& path)
{
    int best = -1;
    for (int i = 0; i < Count(); ++i)
        if (Under(path, m_drives[static_cast<size_t>(i)])
            && (best < 0 || m_drives[static_cast<size_t>(i)].size() > m_drives[static_cast<size_t>(best)].size()))
            best = i;
    if (best < 0)
        return;
    const bool changed = best != ItemIndex();
    ShowDrive(best);
    if (m_dirList && (changed || !Under(m_dirList->Directory(), Drive())))
        m_dirList->SetDirectory(Drive());
}

// ---- the folder list -----------------------------------------------------------

TDirectoryListBox::TDirectoryListBox(TComponent* owner) : TWinControl(owner)
{
    auto* list = new QListWidget();
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    SetWidget(list);
    QObject::connect(list, &QListWidget::itemActivated, [this](QListWidgetItem*) {
        RunEventHandler([this] { OpenCurrent(); });
    });
    SetDirectory(QDir::currentPath().toStdString());
}

QListWidget* TDirectoryListBox::List() const { return static_cast<QListWidget*>(Widget()); }

bool TDirectoryListBox::SetDirectory(const std::string& path)
{
    const std::string folder = FolderForm(path);
    if (folder.empty() || folder[0] != '/' || !DirectoryExists(folder))
        return false;
    const bool changed = folder != m_directory;
    m_directory = folder;
    Fill();
    if (m_fileList)
        m_fileList->SetDirectory(m_directory);
    if (changed && OnChange)
        OnChange(this);
    return true;
}

void TDirectoryListBox::SetFileList(TFileListBox* fileList)
{
    m_fileList = fileList;
    if (m_fileList)
        m_fileList->SetDirectory(m_directory);
}

void TDirectoryListBox::Fill()
{
    m_paths.clear();
    std::vector<int> levels;
    // The root and every folder on the way down to the open one.
    m_paths.push_back("/");
    levels.push_back(0);
    for (size_t at = 1; at < m_directory.size();) {
        const size_t slash = std::min(m_directory.find('/', at), m_directory.size());
        m_paths.push_back(m_directory.substr(0, slash));
        levels.push_back(static_cast<int>(levels.size()));
        at = slash + 1;
    }
    m_openRow = static_cast<int>(m_paths.size()) - 1;
    const int childLevel = levels.back() + 1;
    std::vector<std::string> children;
    TSearchRec sr;
    if (FindFirst(IncludeTrailingPathDelimiter(m_directory) + "*", faDirectory | faHidden, sr) == 0) {
        do {
            if ((sr.Attr & faDirectory) && sr.Name != "." && sr.Name != "..")
                children.push_back(sr.Name);
        } while (FindNext(sr) == 0);
        FindClose(sr);
    }
    std::sort(children.begin(), children.end(), NameLess);
    for (const std::string& name : children) {
        m_paths.push_back(Child(m_directory, name));
        levels.push_back(childLevel);
    }

    QListWidget* list = List();
    list->clear();
    const QIcon open = QIcon::fromTheme("folder-open");
    const QIcon closed = QIcon::fromTheme("folder");
    for (int i = 0; i < Count(); ++i) {
        const QString indent(2 * levels[static_cast<size_t>(i)], QLatin1Char(' '));
        auto* item = new QListWidgetItem(indent + DisplayName(ItemName(i)), list);
        item->setIcon(i <= m_openRow ? open : closed);
    }
    list->setCurrentRow(m_openRow);
}

std::string TDirectoryListBox::ItemName(int index) const
{
    const std::string& path = GetItemPath(index);
    return path == "/" ? path : ExtractFileName(path);
}

int TDirectoryListBox::ItemIndex() const { return List()->currentRow(); }

void TDirectoryListBox::SetItemIndex(int index) { List()->setCurrentRow(index >= 0 && index < Count() ? index : -1); }

void TDirectoryListBox::KeyDown(WORD& key, TShiftState shift)
{
    TWinControl::KeyDown(key, shift);
    if (key == VK_RETURN && !(shift & (ssShift | ssAlt | ssCtrl))) {
        key = 0;
        RunEventHandler([this] { OpenCurrent(); });
    }
}

void TDirectoryListBox::OpenCurrent()
{
    const int i = ItemIndex();
    if (i >= 0 && i < Count())
        SetDirectory(GetItemPath(i));
}

// ---- the file list -------------------------------------------------------------

TFileListBox::TFileListBox(TComponent* owner) : TWinControl(owner)
{
    auto* list = new QListWidget();
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    SetWidget(list);
    QObject::connect(list, &QListWidget::currentRowChanged, [this](int) {
        if (OnChange)
            RunEventHandler([this] { OnChange(this); });
    });
}

QListWidget* TFileListBox::List() const { return static_cast<QListWidget*>(Widget()); }

void TFileListBox::SetDirectory(const std::string& path)
{
    m_directory = FolderForm(path);
    Update();
}

void TFileListBox::SetMask(const std::string& mask)
{
    if (mask == m_mask)
        return;
    m_mask = mask;
    Update();
}

void TFileListBox::SetFileType(int fileType)
{
    if (fileType == m_fileType)
        return;
    m_fileType = fileType;
    Update();
}

void TFileListBox::SetMultiSelect(bool on)
{
    m_multiSelect = on;
    List()->setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

void TFileListBox::Update()
{
    m_names.clear();
    const std::vector<std::string> masks = SplitMasks(m_mask);
    // One read of the folder for every mask: a name that two masks match is
    // listed once.
    int attr = 0;
    if (m_fileType & ftHidden)
        attr |= faHidden;
    if (m_fileType & ftSystem)
        attr |= faSysFile;
    if (m_fileType & ftDirectory)
        attr |= faDirectory;
    const bool normal = m_fileType & (ftNormal | ftReadOnly | ftArchive);
    TSearchRec sr;
    if (!m_directory.empty() && FindFirst(IncludeTrailingPathDelimiter(m_directory) + "*", attr, sr) == 0) {
        do {
            if (sr.Name == "." || sr.Name == "..")
                continue;
            const bool plain = !(sr.Attr & (faDirectory | faSysFile));
            if (plain && !normal)
                continue;
            if (std::any_of(masks.begin(), masks.end(), [&](const std::string& m) { return MatchesFileMask(sr.Name, m); }))
                m_names.push_back(sr.Name);
        } while (FindNext(sr) == 0);
        FindClose(sr);
    }
    std::sort(m_names.begin(), m_names.end(), NameLess);

    QListWidget* list = List();
    const QSignalBlocker quiet(list);
    list->clear();
    for (const std::string& name : m_names)
        new QListWidgetItem(DisplayName(name), list);
}

bool TFileListBox::Selected(int index) const
{
    const QListWidgetItem* item = List()->item(index);
    return item && item->isSelected();
}

void TFileListBox::SetSelected(int index, bool selected)
{
    if (QListWidgetItem* item = List()->item(index))
        item->setSelected(selected);
}

int TFileListBox::SelCount() const { return static_cast<int>(SelectedRows().size()); }

std::vector<int> TFileListBox::SelectedRows() const
{
    std::vector<int> rows;
    for (const QItemSelectionRange& range : List()->selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int TFileListBox::ItemIndex() const { return List()->currentRow(); }

void TFileListBox::SetItemIndex(int index) { List()->setCurrentRow(index >= 0 && index < Count() ? index : -1); }

std::string TFileListBox::FileName() const
{
    const int i = ItemIndex();
    if (i < 0 || i >= Count())
        return {};
    return IncludeTrailingPathDelimiter(m_directory) + m_names[static_cast<size_t>(i)];
}

// ---- the filter box ------------------------------------------------------------

TFilterComboBox::TFilterComboBox(TComponent* owner) : TWinControl(owner)
{
    auto* box = new QComboBox();
    SetWidget(box);
    QObject::connect(box, QOverload<int>::of(&QComboBox::activated), [this](int index) {
        RunEventHandler([this, index] {
            SetItemIndex(index);
            if (OnChange)
                OnChange(this);
        });
    });
    SetFilter("All files (*.*)|*.*");
}

QComboBox* TFilterComboBox::Box() const { return static_cast<QComboBox*>(Widget()); }

void TFilterComboBox::SetFilter(const std::string& filter)
{
    m_filter = filter;
    m_masks.clear();
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= filter.size()) {
        const size_t end = std::min(filter.find('|', start), filter.size());
        parts.push_back(filter.substr(start, end - start));
        start = end + 1;
    }
    Box()->clear();
    // A description without its mask (an odd last part) is no filter.
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        Box()->addItem(QString::fromStdString(parts[i]));
        m_masks.push_back(parts[i + 1]);
    }
    SetItemIndex(Count() > 0 ? 0 : -1);
}

std::string TFilterComboBox::ItemText(int index) const { return Box()->itemText(index).toStdString(); }

int TFilterComboBox::ItemIndex() const { return Box()->currentIndex(); }

void TFilterComboBox::SetItemIndex(int index)
{
    Box()->setCurrentIndex(index >= 0 && index < Count() ? index : -1);
    if (m_fileList)
        m_fileList->SetMask(Mask());
}

std::string TFilterComboBox::Mask() const
{
    const int i = ItemIndex();
    return i >= 0 && i < Count() ? m_masks[static_cast<size_t>(i)] : std::string("*.*");
}

void TFilterComboBox::SetFileList(TFileListBox* fileList)
{
    m_fileList = fileList;
    if (m_fileList)
        m_fileList->SetMask(Mask());
}
