/* Zip archives as file systems: libslzip.so opens an archive read-only and hands out an
 * SLFileSystem that serves its files and folders. Register it with the file-system service
 * under any name and read it through streams like ordinary files. Linux only: the library
 * stands on libzip, which has no build for the Windows toolchain.
 *
 * Paths inside the archive: '/' and '\' both separate, a leading separator is the root, empty
 * components and "." are skipped, ".." goes up; names are case-sensitive. Folders are implied
 * by member paths ("a/b.txt" makes "a") and by explicit folder members ("a/").
 *
 * Codes of SLZipOpenArchive:
 *   0   opened; *fileSystem holds one reference
 *   3   a null argument, or not a zip archive: truncated, corrupt, or its index inconsistent
 *       (a member name flagged UTF-8 that is not UTF-8 makes the index inconsistent; names
 *       without that flag are read as UTF-8 when they are valid UTF-8, else as code page 437)
 *   7   out of memory, or another failure of the system
 *   11  no file at the path
 *   15  the path is a folder, or the file cannot be read
 * On failure *fileSystem is left as it was and `reason` (when given) receives a sentence.
 *
 * Codes of the file system's entries, besides the argument checks of every file system:
 *   3   a path or pattern that climbs above the archive's root with "..", or that is not
 *       valid UTF-16; a search that finds nothing
 *   7   a member whose data fails its checksum (the read that reaches its end), damaged
 *       compressed data, a compression method libzip cannot read, a negative position
 *   11  no such member
 *   15  a folder opened as a file; an encrypted member; every entry that would change the
 *       archive (CreateFolder, CreateAllFolders, RemoveFolder, RemoveFile, WriteFile, OpenFile
 *       with mode 2 or 4): the archive is opened read-only
 *
 * Threads: every entry may run on any thread at once; many handles may be open on one archive,
 * each with its own position. Calls into libzip are serialised per archive. */
#ifndef SLSERVICES_SL_ZIP_H_
#define SLSERVICES_SL_ZIP_H_

#include "slservices/sl_filesystem.h"

SL_EXTERN_C_BEGIN

/* Opens the archive at `utf8Path` and creates a file system for it that reports `nameAtom`
 * from GetFileSystemName (its registry key). `reason` may be null; otherwise it receives a
 * NUL-terminated sentence of at most reasonSize - 1 bytes on failure. [thread-safe] */
SLResult SLZipOpenArchive(const char* utf8Path, uint32_t nameAtom, SLFileSystem** fileSystem,
                          char* reason, uint64_t reasonSize);

typedef SLResult (*SLZipOpenArchiveFn)(const char* utf8Path, uint32_t nameAtom,
                                       SLFileSystem** fileSystem, char* reason,
                                       uint64_t reasonSize);

#define SL_ZIP_OPEN_ARCHIVE "SLZipOpenArchive"

SL_EXTERN_C_END

#endif /* SLSERVICES_SL_ZIP_H_ */
