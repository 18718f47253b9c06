#include "is/xml/DefaultStylesheets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zeb::classification {

std::span<const DefaultStylesheet> defaultStylesheets() {
    return {detail::kDefaultStylesheets, detail::kDefaultStylesheetCount};
}

namespace {

bool fail(std::string* error, const std::string& path, int err) {
    if (error) *error = path + ": " + std::strerror(err);
    return false;
}

bool writeWhole(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(size_t(n));
    }
    return true;
}

} // namespace

bool installDefaultStylesheets(const std::string& dir, std::string* error) {
    for (const DefaultStylesheet& sheet : defaultStylesheets()) {
        const std::string path = dir + "/" + sheet.name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) continue; // kept as it is
        if (errno != ENOENT) return fail(error, path, errno);
        std::string temp = path + ".XXXXXX";
        int fd = ::mkstemp(temp.data());
        if (fd < 0) return fail(error, path, errno);
        bool ok = ::fchmod(fd, 0644) == 0 && writeWhole(fd, sheet.text) && ::fsync(fd) == 0;
        int err = errno;
        if (::close(fd) != 0 && ok) {
            ok = false;
            err = errno;
        }
        // link() refuses to replace a file that appeared meanwhile.
        if (ok && ::link(temp.c_str(), path.c_str()) != 0 && errno != EEXIST) {
            ok = false;
            err = errno;
        }
        ::unlink(temp.c_str());
        if (!ok) return fail(error, path, err);
    }
    return true;
}

} // namespace zeb::classification
