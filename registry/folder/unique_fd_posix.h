// One owner for a file descriptor, and one for a directory stream, as UniqueKey
// is for a key handle: move-only, closed when the owner goes, so that no path
// out of a function (an early return, an exception) can leak one.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <utility>

namespace qz {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Closes what is held (if anything) and holds fd instead.
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now and says whether the close succeeded: a write's failure may
    // show only there. errno tells why it did not.
    bool Close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_ = -1;
};

class UniqueDir {
public:
    explicit UniqueDir(DIR* dir) : dir_(dir) {}
    UniqueDir(const UniqueDir&) = delete;
    UniqueDir& operator=(const UniqueDir&) = delete;
    UniqueDir(UniqueDir&& other) noexcept : dir_(std::exchange(other.dir_, nullptr)) {}
    ~UniqueDir() {
        if (dir_ != nullptr) ::closedir(dir_);
    }

    DIR* get() const { return dir_; }
    explicit operator bool() const { return dir_ != nullptr; }

private:
    DIR* dir_;
};

}  // namespace qz
