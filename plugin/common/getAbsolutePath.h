#pragma once
#include <string>

// Makes a path absolute. The directory part is resolved to its canonical form
// (it must exist; the process's current directory is never changed), the file
// part is taken unchanged and need not exist. With directory true the whole
// path is taken as a directory and the result ends with the separator.
// absolutePath may be the same string as path.
// Raises VorkException "getAbsolutePath: Invalid path" (code 0) when the
// directory does not exist.
void getAbsolutePath(const std::string& path, std::string& absolutePath, bool directory = false);
