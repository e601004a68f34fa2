// open, close and ioctl of the stand-in's device files: a table of open
// descriptors, each one device. Paths the stand-in has no device for fail
// as a missing file does (ENOENT).
#include "StandinApi.h"
#include "StandinDevices.h"

#include <cerrno>
#include <map>
#include <regex>

namespace {

// Descriptors well away from the process's own, so a mix-up shows.
constexpr int kFirstDescriptor = 1000;

struct Table {
    std::map<int, std::unique_ptr<standin::Device>> open;
    int next = kFirstDescriptor;
};

Table& Files() {
    static Table table;
    return table;
}

} // namespace

extern "C" {

int quillon_standin_open(const char* path, int flags) {
    (void)flags;
    if (path == nullptr) {
        errno = EFAULT;
        return -1;
    }
    static const std::regex tty("/dev/tty(USB|ACM|S)[0-9]+");
    static const std::regex spidev("/dev/spidev0\\.[01]");
    int error = ENOENT;
    std::unique_ptr<standin::Device> device;
    if (std::regex_match(path, tty))
        device = standin::OpenTty(path, error);
    else if (std::regex_match(path, spidev))
        device = standin::OpenSpidev(path, error);
    if (!device) {
        errno = error;
        return -1;
    }
    Table& t = Files();
    const int fd = t.next++;
    t.open.emplace(fd, std::move(device));
    return fd;
}

int quillon_standin_close(int fd) {
    if (Files().open.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

int quillon_standin_ioctl(int fd, unsigned long request, void* arg) {
    const auto it = Files().open.find(fd);
    if (it == Files().open.end()) {
        errno = EBADF;
        return -1;
    }
    return it->second->Ioctl(request, arg);
}

} // extern "C"
