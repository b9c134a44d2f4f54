// What the fuzz targets share: a process set up once (the core started with
// its block cache off, so that the sanitizers see each block; folders of
// its own for everything per-user), and the input as the texts a reader
// takes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/String.h"

namespace TavrelFuzz {

// Every target is linked with this file, whose LLVMFuzzerInitialize runs
// setUp; a target that prepares more defines its own and calls it there.
//
// Once per process: a fresh folder as HOME, XDG_RUNTIME_DIR,
// XDG_CONFIG_HOME and the current folder, an empty product list, the core
// started. Answers that folder.
const std::string& setUp();

// The engine library too (data pool, built-in classes), after setUp.
void startEngine();

// The input as a core string: UTF-16LE units after a leading FF FE (lone
// surrogates and all), else UTF-8 (what a dictionary's words reach best).
LxCore::String text(const uint8_t* data, size_t size);

// Splits the input at the first zero byte: the part before it goes to
// first, the rest (empty when there is no zero byte) to second.
void split(const uint8_t* data, size_t size, std::string& first, std::string& second);

// Replaces the file's content with the bytes.
void writeFile(const std::string& path, const uint8_t* data, size_t size);

}  // namespace TavrelFuzz
