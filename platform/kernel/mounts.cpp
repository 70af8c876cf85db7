#include "mounts.h"

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace {

std::mutex g_pathMutex;
std::string g_mountInfo = "/proc/self/mountinfo";

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
std::string UnescapeOctal(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

// The label links in /dev/disk/by-label escape characters as \xHH.
std::string UnescapeHex(std::string_view name)
{
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(name[i + 2]))
            && std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
            out.push_back(static_cast<char>(std::stoi(std::string(name.substr(i + 2, 2)), nullptr, 16)));
            i += 3;
            continue;
        }
        out.push_back(name[i]);
    }
    return out;
}

std::vector<std::string_view> SplitBlanks(std::string_view line)
{
    std::vector<std::string_view> parts;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            parts.push_back(line.substr(start, i - start));
    }
    return parts;
}

std::string ReadSmallFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool ReadSysFlag(const std::string& file)
{
    std::ifstream in(file);
    int v = 0;
    return (in >> v) && v != 0;
}

}

std::vector<MountEntry> ParseMountInfo(std::string_view text)
{
    std::vector<MountEntry> entries;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const auto parts = SplitBlanks(text.substr(pos, end - pos));
        pos = end + 1;
        size_t dash = 6;
        while (dash < parts.size() && parts[dash] != "-")
            ++dash;
        if (parts.size() < 6 || dash + 2 >= parts.size())
            continue;
        MountEntry e;
        e.root = UnescapeOctal(parts[3]);
        e.mountPoint = UnescapeOctal(parts[4]);
        e.fsType = UnescapeOctal(parts[dash + 1]);
        e.source = UnescapeOctal(parts[dash + 2]);
        if (e.mountPoint.empty() || e.mountPoint[0] != '/')
            continue;
        std::sscanf(std::string(parts[2]).c_str(), "%u:%u", &e.major, &e.minor);
        entries.push_back(std::move(e));
    }
    return entries;
}

std::string MountInfoFileName()
{
    std::lock_guard lock(g_pathMutex);
    return g_mountInfo;
}

void SetMountInfoFileNameForTest(const std::string& fileName)
{
    std::lock_guard lock(g_pathMutex);
    g_mountInfo = fileName.empty() ? "/proc/self/mountinfo" : fileName;
}

std::vector<MountEntry> ReadMountTable() { return ParseMountInfo(ReadSmallFile(MountInfoFileName())); }

const MountEntry* FindMountOf(const std::vector<MountEntry>& mounts, const std::string& realPath)
{
    const MountEntry* best = nullptr;
    for (const MountEntry& e : mounts) {
        const std::string& mp = e.mountPoint;
        const bool prefix = mp == "/" || realPath == mp
            || (realPath.compare(0, mp.size(), mp) == 0 && realPath.size() > mp.size() && realPath[mp.size()] == '/');
        if (prefix && (!best || mp.size() >= best->mountPoint.size()))
            best = &e;
    }
    return best;
}

bool IsNetworkFileSystem(std::string_view t)
{
    static const std::set<std::string_view> network = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "9p",
        "davfs", "fuse.sshfs", "sshfs", "ceph", "glusterfs", "fuse.rclone", "fuse.davfs2"};
    return network.count(t) != 0;
}

bool IsKernelPseudoFileSystem(std::string_view t)
{
    static const std::set<std::string_view> pseudo = {"proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2",
        "mqueue", "debugfs", "tracefs", "securityfs", "pstore", "bpf", "configfs", "fusectl", "hugetlbfs",
        "binfmt_misc", "efivarfs", "nsfs", "rpc_pipefs", "selinuxfs"};
    return pseudo.count(t) != 0;
}

TPseudoFileSystemTest::TPseudoFileSystemTest() : TPseudoFileSystemTest(ReadMountTable()) {}

TPseudoFileSystemTest::TPseudoFileSystemTest(const std::vector<MountEntry>& mounts)
{
    for (const MountEntry& m : mounts)
        if (IsKernelPseudoFileSystem(m.fsType))
            m_devices.push_back(makedev(m.major, m.minor));
}

bool TPseudoFileSystemTest::Holds(const std::string& folder) const
{
    if (m_devices.empty())
        return false;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return false;
    for (const std::uint64_t d : m_devices)
        if (d == st.st_dev)
            return true;
    return false;
}

namespace {

std::string WithoutTail(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

}  // namespace

TMountWalkBoundary::TMountWalkBoundary(const MountEntry& mount, const std::vector<MountEntry>& table)
{
    struct stat st {};
    m_known = ::stat(mount.mountPoint.c_str(), &st) == 0;
    m_device = st.st_dev;
    const std::string own = WithoutTail(mount.mountPoint);
    for (const MountEntry& m : table) {
        const std::string other = WithoutTail(m.mountPoint);
        if (other != own)
            m_others.push_back(other);
    }
}

bool TMountWalkBoundary::Holds(const std::string& folder) const
{
    const std::string f = WithoutTail(folder);
    if (std::find(m_others.begin(), m_others.end(), f) != m_others.end())
        return false;
    struct stat st {};
    return m_known && ::stat(f.c_str(), &st) == 0 && st.st_dev == m_device;
}

bool IsRemovableBlockDevice(unsigned major, unsigned minor)
{
    const std::string base = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    return ReadSysFlag(base + "/removable") || ReadSysFlag(base + "/../removable");
}

std::string VolumeLabelOf(const std::string& devicePath)
{
    std::error_code ec;
    const fs::path device = fs::canonical(devicePath, ec);
    if (ec)
        return {};
    for (fs::directory_iterator it("/dev/disk/by-label", ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ec2;
        if (fs::canonical(it->path(), ec2) == device && !ec2)
            return UnescapeHex(it->path().filename().string());
    }
    return {};
}
