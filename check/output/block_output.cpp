#include "check/output/block_output.h"

#include <cstdlib>
#include <poll.h>
#include <unistd.h>

void BlockOutput::block(const std::function<void(std::FILE*)>& print) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    if (stream == nullptr) {
        return;
    }
    print(stream);
    std::fclose(stream);
    if (show_) {
        std::fwrite(text, 1, size, stdout);
        std::fflush(stdout);
    }
    if (keep_) {
        kept_.append(text, size);
    }
    std::free(text);
}

bool output_closed() {
    // Asked for no event, poll still reports the error of a pipe without
    // reader and the hang-up of a socket or terminal; a file never has one.
    pollfd output = {STDOUT_FILENO, 0, 0};
    return std::ferror(stdout) != 0 ||
           (poll(&output, 1, 0) == 1 && (output.revents & (POLLERR | POLLHUP)) != 0);
}
