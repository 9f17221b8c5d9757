// d88extract's writing: the process-wide objects of the run, and the files
// of the selected disk written to the current directory.
#pragma once

#include <array>
#include <cstdint>

#include "cli/platform.h"
#include "d88/d88_image.h"
#include "disk/chain.h"
#include "disk/file_tables.h"
#include "disk/listing.h"

// The one D88 file of the run, with its selected disk.
extern d88::D88Image diskImage;
// The D88 file as it was opened: no output file may be that file.
extern platform::FileStamp inputIdentity;
// Shared by every extraction; each one clears the part it uses.
extern disk::ExtractBuffer extractBuffer;
// The tables of the current disk.
extern disk::TableBuffers fileTables;
// The run's tables and extraction buffer, as the model takes them.
[[nodiscard]] disk::DiskBuffers processBuffers();

// Reads the file's chain and writes its `size` bytes from `offset` on to the
// file of its name in the current directory, with its report line. Returns
// false, with no file and no line, when nothing could be read, the range is
// damaged, writing failed, or the name leads to the D88 file itself.
[[nodiscard]] bool extractFile(const disk::DiskFile& file);

// Recognises the selected disk of diskImage and extracts its files into the
// current directory.
void extractDisk(bool extractAll);

// True once any output file could not be written during this run.
[[nodiscard]] bool anyWriteFailed();
