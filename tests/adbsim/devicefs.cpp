// adbsim's device file systems: a device path names a file below the device's host
// directory; entries are reported as lstat sees them (links as links).
#include <dirent.h>
#include <sys/stat.h>
#include <algorithm>
#include <cerrno>

#include "adbsim.h"

namespace adbsim {

// A relative path is taken from the device's root, like a device's working
// directory "/". A ".." component would leave the device's directory, so such a
// path names nothing.
bool mapDevicePath(const Device& device, const std::string& path, std::string& hostPath) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (path.compare(start, end - start, "..") == 0) return false;
        start = end + 1;
    }
    hostPath = device.root;
    if (path.empty() || path[0] != '/') hostPath += '/';
    hostPath += path;
    return true;
}

std::optional<EntryInfo> statEntry(const std::string& hostPath, bool follow) {
    struct stat st;
    if ((follow ? stat(hostPath.c_str(), &st) : lstat(hostPath.c_str(), &st)) != 0)
        return std::nullopt;
    return EntryInfo{uint32_t(st.st_mode), uint64_t(st.st_size), int64_t(st.st_mtime),
                     uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

// The names of a directory, "." and ".." first, the rest in the chosen order.
std::vector<std::string> listNames(const std::string& hostPath, ListOrder order) {
    std::vector<std::string> names;
    DIR* dir = opendir(hostPath.c_str());
    if (!dir) return names;
    while (dirent* entry = readdir(dir)) names.push_back(entry->d_name);
    closedir(dir);
    if (order == ListOrder::Native) return names;
    std::vector<std::string> dots;
    std::vector<std::string> rest;
    for (std::string& name : names) (name == "." || name == ".." ? dots : rest).push_back(name);
    std::sort(dots.begin(), dots.end());
    std::sort(rest.begin(), rest.end());  // std::string compares bytes as unsigned char
    if (order == ListOrder::Reverse) std::reverse(rest.begin(), rest.end());
    dots.insert(dots.end(), rest.begin(), rest.end());
    return dots;
}

// Creates the missing directories above a file, as adbd does for a SEND.
int makeParentDirs(const std::string& hostPath) {
    std::size_t slash = hostPath.rfind('/');
    if (slash == std::string::npos || slash == 0) return 0;
    std::string parent = hostPath.substr(0, slash);
    struct stat st;
    if (stat(parent.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (int e = makeParentDirs(parent)) return e;
    if (mkdir(parent.c_str(), 0775) != 0 && errno != EEXIST) return errno;
    return 0;
}

}  // namespace adbsim
