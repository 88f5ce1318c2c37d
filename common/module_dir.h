// common/module_dir.h
#pragma once

#include <cstddef>
#include <string>

#include "common/platform.h"

// Sets the program directory from the running program file. False when the
// file name cannot be had; the directory then keeps its previous value.
bool InitModuleDir(ModuleHandle module);

// Writes the program directory followed by fileName into buffer. False when an
// argument is missing or the result does not fit bufferSize bytes (terminator
// included); the buffer then holds an empty string (if it has room for one).
bool MakeModulePath(const char* fileName, std::size_t bufferSize, char* buffer);

// Full path of client.db beside the program, formed anew on every call.
std::string GetClientDbPath();

// The program directory: ends with a separator, or is empty before
// InitModuleDir succeeds (paths are then bare file names).
std::string GetModuleDir();

// Text of path up to and including its last separator, or empty when there is
// none. In a double-byte code page a trail byte may equal the separator;
// isLeadByte, when given, makes such pairs skipped as one character.
using LeadBytePredicate = bool (*)(unsigned char byte);
std::string ModuleDirFromPath(const char* path, char separator,
                              LeadBytePredicate isLeadByte = nullptr);
