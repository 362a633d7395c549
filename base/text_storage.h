// Thread text storage: every operation that returns a text (gadget_get_text,
// dir_entry_name, text_from_toolkit, ...) hands it back in the calling thread's
// own growable buffer, where it stays valid until that thread's next text result.
//
// The process-wide key is made at start-up together with the main thread's
// storage; a worker's storage is made and freed by its thread entry. A thread
// that reaches a text result without storage of its own (a thread the program
// did not start) gets one made on first use and freed when it ends.
#pragma once

#include "base/owners.h"

#include <cstddef>
#include <string_view>

struct TextStorage;

// Creates the key (once; later calls do nothing). Main thread, start-up.
void text_storage_key_create();

// Deletes the key; only when no thread will reach a text result again.
void text_storage_key_delete();

// Frees storage made by text_storage_create on the calling thread and detaches it.
void text_storage_free(TextStorage* storage);

using OwnedTextStorage = OwnedBy<TextStorage, text_storage_free>;

// New empty storage with room for 16 bytes, made the calling thread's; freed
// with the owner, on the thread that made it.
[[nodiscard]] OwnedTextStorage text_storage_create();

// Room for length bytes and a terminating zero in the calling thread's storage;
// the returned start is the next text result. Earlier results become invalid.
char* text_storage_reserve(std::size_t length);

// Copies text (up to its first zero byte) into the calling thread's storage.
const char* text_result(std::string_view text);
