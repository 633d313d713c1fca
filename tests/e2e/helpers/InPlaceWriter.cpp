// The attacker of the integrity tests: a local user who may write a package
// file and rewrites it in place, on the same inode, at the moment a reader
// has begun to read it for the given time.
//
//   in-place-writer <file> <opens> <done-file> <offset>=<text>...
//
// Waits (inotify) for the <opens>-th open of the file and the first read
// that follows it, writes each text at its byte offset, then creates
// done-file. It creates <done-file>.ready once it watches. Gives up after 20
// seconds (exit 2).
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs("usage: in-place-writer <file> <opens> <done-file> <offset>=<text>...\n", stderr);
        return 2;
    }
    const int notify = inotify_init1(IN_CLOEXEC);
    if (notify < 0 || inotify_add_watch(notify, argv[1], IN_OPEN | IN_ACCESS) < 0) return 2;
    // The watch is set: whoever waits for the attacker may go on.
    const int ready = open((std::string(argv[3]) + ".ready").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (ready < 0) return 2;
    close(ready);
    const int wanted = std::atoi(argv[2]);
    int opens = 0;
    char buffer[4096] __attribute__((aligned(__alignof__(inotify_event))));
    for (bool fired = false; !fired;) {
        pollfd ready{notify, POLLIN, 0};
        if (poll(&ready, 1, 20000) != 1) return 2;
        const ssize_t count = read(notify, buffer, sizeof buffer);
        if (count <= 0) return 2;
        for (ssize_t at = 0; at < count;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN) ++opens;
            if ((event->mask & IN_ACCESS) && opens == wanted) fired = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    const int file = open(argv[1], O_WRONLY | O_CLOEXEC);
    if (file < 0) return 2;
    for (int i = 4; i < argc; ++i) {
        const std::string change = argv[i];
        const std::string::size_type equals = change.find('=');
        const std::string text = change.substr(equals + 1);
        if (pwrite(file, text.data(), text.size(), std::atoll(change.substr(0, equals).c_str())) !=
            static_cast<ssize_t>(text.size()))
            return 2;
    }
    close(file);
    const int done = open(argv[3], O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    return done >= 0 ? 0 : 2;
}
