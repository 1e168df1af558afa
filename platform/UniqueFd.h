#pragma once

// A file descriptor (on Windows the C runtime's) owned and closed when it goes; -1 means none.
namespace vorn::platform {

// Closes `fd` (defined with the system's file services, vorn_platform_file).
void CloseDescriptor(int fd);

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() {
        if (m_fd >= 0)
            CloseDescriptor(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            if (m_fd >= 0)
                CloseDescriptor(m_fd);
            m_fd = other.m_fd;
            other.m_fd = -1;
        }
        return *this;
    }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // For functions that hand a descriptor back through an int*.
    int* out() { return &m_fd; }

private:
    int m_fd = -1;
};

}  // namespace vorn::platform
