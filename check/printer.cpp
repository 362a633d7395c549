#include "check/printer.h"

#include <cstdlib>

void Printer::block(const std::function<void(std::FILE*)>& print) {
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
