#include "base/fs/FsFile.h"

FsFile::~FsFile() = default;
