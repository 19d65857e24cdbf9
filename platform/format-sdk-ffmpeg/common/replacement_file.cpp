// SPDX-License-Identifier: MIT
#include "common/replacement_file.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace ffsdk {

namespace {

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The value of the extended attribute `name` of `fd`; false if it has none.
bool ReadAttribute(int fd, const char* name, std::vector<char>* value) {
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) return false;
        value->resize(static_cast<size_t>(size));
        const ssize_t got = ::fgetxattr(fd, name, value->data(), value->size());
        if (got >= 0) {
            value->resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;  // ERANGE: it grew meanwhile
    }
}

// Gives the new file `fd` the owner, group, mode and extended attributes of
// the original; false if any of them cannot be given.
bool CopyRights(int fd, const struct stat& original, int source) {
    struct stat now {};
    if (::fstat(fd, &now) != 0) return false;
    // Owner and group first: changing them clears the set-id bits, which the
    // mode then restores. Only the superuser gives a file to someone else, and
    // a file system without owners (FAT) gives every file the same one.
    if ((now.st_uid != original.st_uid || now.st_gid != original.st_gid) &&
        ::fchown(fd, original.st_uid, original.st_gid) != 0) {
        return false;
    }
    // File systems without Unix permissions refuse chmod but give every file
    // the same mode; that is fine as long as the modes agree.
    if (::fchmod(fd, original.st_mode & 07777) != 0 &&
        (::fstat(fd, &now) != 0 || (now.st_mode & 07777) != (original.st_mode & 07777))) {
        return false;
    }
    // After the mode, which would otherwise narrow an access ACL's mask.
    ssize_t size = ::flistxattr(source, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;  // a file system without them
    std::vector<char> names(static_cast<size_t>(size));
    size = ::flistxattr(source, names.data(), names.size());
    if (size < 0) return false;
    std::vector<char> value;
    std::vector<char> present;
    for (size_t at = 0; at < static_cast<size_t>(size); at += std::strlen(&names[at]) + 1) {
        const char* name = &names[at];
        if (!ReadAttribute(source, name, &value)) {
            if (errno == ENODATA) continue;  // removed meanwhile
            return false;
        }
        // The system may have set it already (a security label, say).
        if (ReadAttribute(fd, name, &present) && present == value) continue;
        if (::fsetxattr(fd, name, value.data(), value.size(), 0) != 0) return false;
    }
    return true;
}

}  // namespace

Result ReplacementFile::Begin(const std::string& target, const struct stat& original, int source) {
    file_.Discard();
    name_ = BaseName(target);
    const int error = file_.Create(DirName(target), 0600, original.st_uid);
    if (error != 0) return wm::ResultFromErrno(error);
    if (!CopyRights(file_.fd(), original, source)) {
        file_.Discard();
        return wm::E_ACCESS_DENIED;
    }
    return S_OK;
}

Result ReplacementFile::Commit() {
    if (!file_.Active()) return wm::NS_E_INVALID_REQUEST;
    const int error = file_.CommitAs(name_.c_str());
    return error == 0 ? Result(S_OK) : wm::ResultFromErrno(error);
}

}  // namespace ffsdk
