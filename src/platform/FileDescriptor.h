#pragma once

#include <unistd.h>

#include <utility>

// An owned POSIX file descriptor, closed when it goes out of scope; close()
// reports whether closing succeeded.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) { }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

    bool close() { return ::close(std::exchange(m_fd, -1)) == 0; }

private:
    int m_fd;
};
