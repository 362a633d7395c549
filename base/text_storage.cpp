#include "base/text_storage.h"

#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>

struct TextStorage {
    std::unique_ptr<char[]> bytes;
    std::size_t capacity = 0;
};

namespace {

pthread_key_t storage_key;
std::once_flag key_made;

void make_key() {
    // No destructor: the thread entry frees a worker's storage itself.
    pthread_key_create(&storage_key, nullptr);
}

// Storage for threads that the program did not start (toolkit helper threads,
// test threads): made on first use, freed when the thread ends.
thread_local std::unique_ptr<TextStorage> fallback_storage;

TextStorage* current_storage() {
    std::call_once(key_made, make_key);
    auto* storage = static_cast<TextStorage*>(pthread_getspecific(storage_key));
    if (storage == nullptr) {
        fallback_storage = std::make_unique<TextStorage>();
        storage = fallback_storage.get();
        pthread_setspecific(storage_key, storage);
    }
    return storage;
}

} // namespace

void text_storage_key_create() {
    std::call_once(key_made, make_key);
}

void text_storage_key_delete() {
    pthread_key_delete(storage_key);
}

OwnedTextStorage text_storage_create() {
    std::call_once(key_made, make_key);
    OwnedTextStorage storage(new TextStorage{std::make_unique<char[]>(16), 16});
    storage->bytes[0] = '\0';
    pthread_setspecific(storage_key, storage.get());
    return storage;
}

void text_storage_free(TextStorage* storage) {
    if (pthread_getspecific(storage_key) == storage) {
        pthread_setspecific(storage_key, nullptr);
    }
    delete storage;
}

char* text_storage_reserve(std::size_t length) {
    TextStorage* storage = current_storage();
    if (length + 1 > storage->capacity) {
        std::size_t capacity = storage->capacity < 16 ? 16 : storage->capacity;
        while (capacity < length + 1) {
            capacity *= 2;
        }
        storage->bytes = std::make_unique<char[]>(capacity);
        storage->capacity = capacity;
    }
    storage->bytes[length] = '\0';
    return storage->bytes.get();
}

const char* text_result(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    // The text may be the thread's previous result, which reserving can free.
    std::string copy(text);
    char* result = text_storage_reserve(copy.size());
    copy.copy(result, copy.size());
    return result;
}
