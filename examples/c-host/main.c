/* A host in C11 that uses only the public C headers: it loads the atom library and the module
 * by path, creates both services, writes a file through a write stream and reads it back
 * through a read stream, lists a folder, reads a failure record, and releases everything.
 * docs/c-host-guide.md walks through it.
 *
 *   c-host [MODULE [ATOM_LIBRARY]]
 *
 * Without arguments it takes the installed paths the build was given as C_HOST_MODULE and
 * C_HOST_ATOM_LIBRARY (examples/c-host/CMakeLists.txt passes SLSERVICES_MODULE and
 * SLSERVICES_ATOM_LIBRARY of the CMake package; the guide's cc line passes pkg-config's module
 * and atomlibrary), and without those the libraries' bare names, which the system's own search
 * finds when their folder is on it. It works in a folder "c-host-files" that it makes in the
 * current folder and removes again. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "slservices/sl_text.h"
#include "slservices/slservices.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#ifndef C_HOST_MODULE
#ifdef _WIN32
#define C_HOST_MODULE "slservices.dll"
#else
#define C_HOST_MODULE "libslservices.so"
#endif
#endif
#ifndef C_HOST_ATOM_LIBRARY
#ifdef _WIN32
#define C_HOST_ATOM_LIBRARY "atom.dll"
#else
#define C_HOST_ATOM_LIBRARY "libatom.so"
#endif
#endif

/* Whether an object's table holds an entry: the table is long enough and the slot is set. */
#define HAS_ENTRY(object, Type, entry)                                                  \
  ((object)->header.tableSize > offsetof(Type, entry) - sizeof(ServiceFunctionTable) && \
   (object)->entry != NULL)

/* ---- Loading a library: the one part that differs between systems. ---- */

static void* OpenLibrary(const char* path) {
#ifdef _WIN32
  /* A full path, and the library's own folder searched for what it needs. */
  SLChar16 wide[1024];
  if (sl_utf8_to_utf16(path, wide, 1024) >= 1024) return NULL;
  return (void*)LoadLibraryExW((const wchar_t*)wide, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
#else
  /* Bound now, so a missing symbol fails here; kept local: nothing needs its names. */
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
}

/* Any function: what a symbol is looked up as, before a cast to its own type. */
typedef void (*AnyFunction)(void);

static AnyFunction FindSymbol(void* library, const char* name) {
#ifdef _WIN32
  return (AnyFunction)GetProcAddress((HMODULE)library, name);
#else
  /* POSIX gives object and function pointers one form; ISO C has no cast between them. */
  void* found = dlsym(library, name);
  AnyFunction function;
  memcpy(&function, &found, sizeof function);
  return function;
#endif
}

static void CloseLibrary(void* library) {
#ifdef _WIN32
  FreeLibrary((HMODULE)library);
#else
  dlclose(library);
#endif
}

/* Why a library did not load, and how to name the libraries. */
static void PrintLoadError(const char* path) {
#ifdef _WIN32
  fprintf(stderr, "c-host: cannot load %s (Windows error %lu)\n", path,
          (unsigned long)GetLastError());
#else
  fprintf(stderr, "c-host: cannot load %s: %s\n", path, dlerror());
#endif
  fprintf(stderr,
          "c-host: name both libraries: c-host MODULE ATOM_LIBRARY, with the paths that\n"
          "  pkg-config --variable=module slservices and --variable=atomlibrary give, or build\n"
          "  with -DC_HOST_MODULE='\"PATH\"' -DC_HOST_ATOM_LIBRARY='\"PATH\"' "
          "(docs/c-host-guide.md)\n");
}

/* A function the program cannot go on without: null is reported with the library it lacks. */
static int Lacks(AnyFunction function, const char* library, const char* name) {
  if (function != NULL) return 0;
  fprintf(stderr, "c-host: %s lacks the export %s: not the library asked for\n", library, name);
  return 1;
}

/* ---- Failures: the code, and the object's own record for this thread. ---- */

static int Failed(const char* call, SLResult code, ServiceObject* object) {
  SLErrorInfo info;
  char message[1024] = "(no record)";
  memset(&info, 0, sizeof info);
  if (object != NULL && object->header.GetErrorInfo != NULL &&
      object->header.GetErrorInfo(object, &info, 0) == SL_OK && info.code == code) {
    sl_utf16_to_utf8(info.message, message, sizeof message);
  }
  fprintf(stderr, "c-host: %s -> %u: %s\n", call, (unsigned)code, message);
  return 1;
}

#define CHECK(call, object)                                                      \
  do {                                                                           \
    const SLResult code_ = (call);                                               \
    if (SL_FAILED(code_)) return Failed(#call, code_, (ServiceObject*)(object)); \
  } while (0)

static void Release(void* object) {
  ServiceObject* any = (ServiceObject*)object;
  if (any != NULL && any->header.Release != NULL) any->header.Release(any);
}

/* ---- What the host does with the services. ---- */

struct Module {
  SLGetAtomFromStringFn getAtom;
  SLReflectServiceObjectInfoFn reflect;
  SLCreateServiceObjectFn create;
};

/* A new object of the class, checked to carry the interface it should. */
static ServiceObject* Create(const struct Module* module, const char* className,
                             uint32_t interfaceId) {
  uint32_t atom = SL_UNRESOLVED_ATOM;
  ServiceObject* object = NULL;
  SLResult code;
  module->getAtom(className, &atom);
  code = module->create(atom, &object);
  if (SL_FAILED(code) || object == NULL) {
    fprintf(stderr, "c-host: CreateServiceObject(%s) -> %u\n", className, (unsigned)code);
    return NULL;
  }
  if (object->header.interfaceId != interfaceId) {
    fprintf(stderr, "c-host: %s is %s\n", className, object->header.interfaceName);
    Release(object);
    return NULL;
  }
  return object;
}

static const char kText[] =
    "Gr\xC3\xBC\xC3\x9F"
    "e from a C host\n"; /* "Grüße", in UTF-8 */

static int WriteAndRead(SLFileSystem* fs, SLStreamService* streams, const SLChar16* path) {
  SLFileHandle file = NULL;
  SLStreamHandle stream = NULL;
  uint64_t done = 0;
  uint64_t size = 0;
  char back[64] = {0};

  /* Write: the stream takes over the file handle and closes it. */
  CHECK(fs->OpenFile(fs, path, SL_OPEN_CREATE, &file), fs);
  CHECK(streams->OpenFileWriteStream(streams, fs, file, &stream), streams);
  CHECK(streams->WriteStream(streams, stream, kText, sizeof kText - 1, &done), streams);
  streams->CloseStream(streams, stream); /* flushes, closes the file; always 0 */

  /* A write stream never reports a failed write: the file's size tells. */
  CHECK(fs->OpenFile(fs, path, SL_OPEN_READ, &file), fs);
  CHECK(fs->GetFileSize(fs, file, &size), fs);
  if (size != sizeof kText - 1) {
    fprintf(stderr, "c-host: wrote %u bytes, the file holds %u\n", (unsigned)(sizeof kText - 1),
            (unsigned)size);
    fs->CloseFile(fs, file);
    return 1;
  }

  /* Read: a count below the request is the end of the data (or a failure). */
  CHECK(streams->OpenFileReadStream(streams, fs, file, &stream), streams);
  CHECK(streams->ReadStream(streams, stream, back, sizeof back - 1, &done), streams);
  streams->CloseStream(streams, stream);
  if (done != sizeof kText - 1 || memcmp(back, kText, sizeof kText - 1) != 0) {
    fprintf(stderr, "c-host: read back %u bytes: %s\n", (unsigned)done, back);
    return 1;
  }
  printf("c-host: wrote and read back: %s", back);
  return 0;
}

static int List(SLFileSystem* fs, const SLChar16* pattern, const char* expected) {
  SLFileSystemSearchResult* found = NULL;
  uint64_t count = 0;
  uint32_t i;
  int seen = 0;
  CHECK(fs->Search(fs, pattern, &found), fs);
  CHECK(found->GetCount(found, &count), found);
  for (i = 0; i < count; ++i) {
    const SLChar16* name = NULL;
    char utf8[260 * 3 + 1];
    CHECK(found->GetFileInfo(found, i, &name), found);
    sl_utf16_to_utf8(name, utf8, sizeof utf8); /* owned by `found` until its Release */
    printf("c-host: found %s\n", utf8);
    seen |= strcmp(utf8, expected) == 0;
  }
  Release(found);
  if (!seen) fprintf(stderr, "c-host: %s not found\n", expected);
  return seen ? 0 : 1;
}

static int Work(const struct Module* module) {
  SLFileSystemService* files = NULL;
  SLStreamService* streams = NULL;
  SLFileSystem* fs = NULL;
  SLFileHandle file = NULL;
  SLChar16 folder[64], path[64], pattern[64], missing[64];
  SLResult code;
  int status = 1;

  files =
      (SLFileSystemService*)Create(module, SL_CLASS_FILE_SYSTEM_SERVICE, SL_FILESYSTEM_SERVICE_ID);
  streams = (SLStreamService*)Create(module, SL_CLASS_STREAM_SERVICE, SL_STREAM_SERVICE_ID);
  if (files == NULL || streams == NULL ||
      !HAS_ENTRY(files, SLFileSystemService, GetDefaultFileSystem)) {
    goto done;
  }
  if (SL_FAILED(code = files->GetDefaultFileSystem(files, &fs))) {
    Failed("GetDefaultFileSystem", code, (ServiceObject*)files);
    goto done;
  }

  sl_utf8_to_utf16("c-host-files", folder, 64);
  sl_utf8_to_utf16(
      "c-host-files/gr\xC3\xBC\xC3\x9F"
      "e.txt",
      path, 64);
  sl_utf8_to_utf16("c-host-files/*", pattern, 64);
  sl_utf8_to_utf16("c-host-files/missing.txt", missing, 64);
  if (SL_FAILED(code = fs->CreateFolder(fs, folder))) {
    Failed("CreateFolder", code, (ServiceObject*)fs);
    goto done;
  }
  status = WriteAndRead(fs, streams, path) || List(fs, pattern,
                                                   "gr\xC3\xBC\xC3\x9F"
                                                   "e.txt");

  /* A failure on purpose: the code, then the record the file system keeps for this thread. */
  code = fs->OpenFile(fs, missing, SL_OPEN_READ, &file);
  if (code != SL_NOT_FOUND) status = 1;
  Failed("OpenFile(missing.txt) as expected", code, (ServiceObject*)fs);

  if (SL_FAILED(fs->RemoveFile(fs, path)) || SL_FAILED(fs->RemoveFolder(fs, folder))) status = 1;

done:
  /* Every reference goes back before the module is unloaded. */
  Release(fs);
  Release(streams);
  Release(files);
  return status;
}

int main(int argc, char** argv) {
  const char* modulePath = argc > 1 ? argv[1] : C_HOST_MODULE;
  const char* atomPath = argc > 2 ? argv[2] : C_HOST_ATOM_LIBRARY;
  struct Module module;
  SLModuleNotificationFn initialize, onCleanup, onFree;
  const ServiceObjectInfo* classes = NULL;
  uint32_t count = 0;
  uint32_t i;
  void* atomLibrary;
  void* library;
  int status;

  /* 1. The atom library first, by its full path: the module loads it by its bare name when it
   *    first needs an atom, and that finds the copy already in the process. */
  atomLibrary = OpenLibrary(atomPath);
  if (atomLibrary == NULL) {
    PrintLoadError(atomPath);
    return 1;
  }
  module.getAtom = (SLGetAtomFromStringFn)FindSymbol(atomLibrary, SL_ATOM_FUNCTION);

  /* 2. The module, and its exports. */
  library = OpenLibrary(modulePath);
  if (library == NULL) {
    PrintLoadError(modulePath);
    return 1;
  }
  module.reflect = (SLReflectServiceObjectInfoFn)FindSymbol(library, SL_EXPORT_REFLECT);
  module.create = (SLCreateServiceObjectFn)FindSymbol(library, SL_EXPORT_CREATE);
  initialize = (SLModuleNotificationFn)FindSymbol(library, SL_EXPORT_INITIALIZE);
  onCleanup = (SLModuleNotificationFn)FindSymbol(library, SL_EXPORT_ON_CLEANUP);
  onFree = (SLModuleNotificationFn)FindSymbol(library, SL_EXPORT_ON_FREE);
  if (Lacks((AnyFunction)module.getAtom, atomPath, SL_ATOM_FUNCTION) ||
      Lacks((AnyFunction)module.reflect, modulePath, SL_EXPORT_REFLECT) ||
      Lacks((AnyFunction)module.create, modulePath, SL_EXPORT_CREATE) ||
      Lacks((AnyFunction)initialize, modulePath, SL_EXPORT_INITIALIZE) ||
      Lacks((AnyFunction)onCleanup, modulePath, SL_EXPORT_ON_CLEANUP) ||
      Lacks((AnyFunction)onFree, modulePath, SL_EXPORT_ON_FREE)) {
    return 1;
  }

  /* 3. Initialize before the first object; the classes by name. */
  initialize();
  if (module.reflect(&classes, &count) == SL_OK) {
    for (i = 0; i < count; ++i) printf("c-host: class %s\n", classes[i].className);
  }

  status = Work(&module);

  /* 4. Every object released: OnCleanup, then OnFree right before unloading. */
  onCleanup();
  onFree();
  CloseLibrary(library);
  CloseLibrary(atomLibrary);
  printf("c-host: %s\n", status == 0 ? "ok" : "FAILED");
  return status;
}
