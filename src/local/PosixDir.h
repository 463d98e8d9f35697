#pragma once
#include <dirent.h>
#include <unistd.h>

// Owns one open directory stream, and with it the descriptor it reads from.
class PosixDir
{
public:
    explicit PosixDir(const char* path) : m_dir(opendir(path)) {}
    // Takes over `fd`, which is closed here even when no stream can be made of it.
    static PosixDir fromFd(int fd)
    {
        PosixDir dir(nullptr, 0);
        if (fd >= 0) {
            dir.m_dir = fdopendir(fd);
            if (!dir.m_dir)
                ::close(fd);
        }
        return dir;
    }
    ~PosixDir()
    {
        if (m_dir)
            closedir(m_dir);
    }
    PosixDir(PosixDir&& other) noexcept : m_dir(other.m_dir) { other.m_dir = nullptr; }
    PosixDir(const PosixDir&) = delete;
    PosixDir& operator=(const PosixDir&) = delete;
    PosixDir& operator=(PosixDir&&) = delete;

    explicit operator bool() const { return m_dir != nullptr; }
    DIR* get() const { return m_dir; }
    int fd() const { return dirfd(m_dir); }
    const dirent* next() { return readdir(m_dir); }

private:
    PosixDir(std::nullptr_t, int) : m_dir(nullptr) {}
    DIR* m_dir;
};

// "." and "..", which no listing or delete ever handles as entries.
inline bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}
