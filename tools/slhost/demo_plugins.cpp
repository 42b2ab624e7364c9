// The demo's sections on what a host plugs in: its own callbacks behind streams, and its own
// file system (the SDK's in-memory one) in the file-system service's registry.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "demo_support.h"

namespace slhost::demo {

namespace {

// A source that serves its text in pieces of 7 bytes, and a sink that collects; both keep a
// log of the calls the stream makes.
struct Callbacks {
  std::string text;
  size_t offset = 0;
  std::string log;

  static Callbacks& Of(void* context) { return *static_cast<Callbacks*>(context); }
  void Note(const std::string& call) { log += (log.empty() ? "" : " ") + call; }

  static uint64_t Read(void* context, void* buffer, uint64_t capacity) {
    Callbacks& me = Of(context);
    const size_t n =
        std::min<size_t>({7, static_cast<size_t>(capacity), me.text.size() - me.offset});
    me.text.copy(static_cast<char*>(buffer), n, me.offset);
    me.offset += n;
    me.Note("Read(" + std::to_string(capacity) + ")=" + std::to_string(n));
    return n;
  }
  static uint64_t Write(void* context, const void* source, uint64_t size) {
    Callbacks& me = Of(context);
    me.text.append(static_cast<const char*>(source), static_cast<size_t>(size));
    me.Note("Write(" + std::to_string(size) + ")=" + std::to_string(size));
    return size;
  }
  static uint8_t Flush(void* context) {
    Of(context).Note("Flush");
    return 1;
  }
  static void Close(void* context) { Of(context).Note("Close"); }
};

void ShowLog(const char* when, Callbacks& callbacks) {
  std::printf("     callbacks %s: %s\n", when,
              callbacks.log.empty() ? "none" : callbacks.log.c_str());
  callbacks.log.clear();
}

}  // namespace

int CallbackTour(SLStreamService* streams) {
  std::printf("\n5. Streams over the host's own callbacks\n");
  Callbacks source;
  source.text = "callbacks feed this stream";
  const SLReadHandler reader{&Callbacks::Read, &Callbacks::Flush, &Callbacks::Close};
  SLStreamHandle stream = nullptr;
  if (!Show("OpenReadStream(7 bytes per Read)",
            streams->OpenReadStream(streams, &reader, &source, &stream), streams))
    return 1;
  char buffer[64] = {};
  uint64_t done = 0;
  Show("ReadStream(63 bytes)", streams->ReadStream(streams, stream, buffer, 63, &done), streams);
  std::printf("     count %" PRIu64 ": \"%s\"\n", done, buffer);
  ShowLog("during the read", source);
  Show("CloseStream", streams->CloseStream(streams, stream), streams);
  ShowLog("at close", source);

  Callbacks sink;
  const SLWriteHandler writer{&Callbacks::Write, &Callbacks::Flush, &Callbacks::Close};
  if (!Show("OpenWriteStream(a collecting Write)",
            streams->OpenWriteStream(streams, &writer, &sink, &stream), streams))
    return 1;
  Show("WriteStream(\"hello \")", streams->WriteStream(streams, stream, "hello ", 6, &done),
       streams);
  ShowLog("so far (the stream buffers)", sink);
  Show("FlushStream", streams->FlushStream(streams, stream), streams);
  ShowLog("at the flush", sink);
  Show("WriteStream(\"world\")", streams->WriteStream(streams, stream, "world", 5, &done), streams);
  Show("CloseStream", streams->CloseStream(streams, stream), streams);
  ShowLog("at close", sink);
  std::printf("     the sink holds \"%s\"\n", sink.text.c_str());
  return 0;
}

int MemoryTour(const sl::sdk::Module& module, SLFileSystemService* service,
               SLStreamService* streams, sl::sdk::Ref<sl::sdk::MemoryFileSystem>* memory) {
  std::printf("\n6. A file system of the host's own: the SDK's in-memory one, registered\n");
  const uint32_t atom = module.Atom("Memory");
  *memory = sl::sdk::MakeRef<sl::sdk::MemoryFileSystem>(atom);
  SLFileSystem* mine = (*memory)->table();
  std::printf("  MemoryFileSystem named \"Memory\" (atom 0x%08" PRIx32 ")\n", atom);
  PrintHeader(Obj(mine));
  if (!Show("RegisterFileSystem(Memory)", service->RegisterFileSystem(service, mine), service))
    return 1;
  std::printf("     references %" PRIu32 ": ours and the registry's\n", Refs(mine));
  Show("RegisterFileSystem(Memory) again", service->RegisterFileSystem(service, mine), service);

  SLFileSystem* fs = nullptr;
  Show("GetRegisteredFileSystemByName(Memory)",
       service->GetRegisteredFileSystemByName(service, atom, &fs), service);
  std::printf("     the same object: %s\n", fs == mine ? "yes" : "no");
  Show("CreateAllFolders(/notes)", fs->CreateAllFolders(fs, u"/notes"), fs);

  SLFileHandle file = nullptr;
  SLStreamHandle stream = nullptr;
  uint64_t done = 0;
  const char text[] = "kept in the host's memory, written through a file write stream\n";
  Show("OpenFile(/notes/today.txt, create)",
       fs->OpenFile(fs, u"/notes/today.txt", SL_OPEN_CREATE, &file), fs);
  Show("OpenFileWriteStream", streams->OpenFileWriteStream(streams, fs, file, &stream), streams);
  const std::string call = "WriteStream(" + std::to_string(sizeof(text) - 1) + " bytes)";
  Show(call.c_str(), streams->WriteStream(streams, stream, text, sizeof(text) - 1, &done), streams);
  Show("CloseStream (flushes, closes the file)", streams->CloseStream(streams, stream), streams);
  std::printf("     the memory file system holds %zu bytes at /notes/today.txt\n",
              (*memory)->FileContents("/notes/today.txt").value_or("").size());

  Show("OpenFile(/notes/today.txt, read)",
       fs->OpenFile(fs, u"/notes/today.txt", SL_OPEN_READ, &file), fs);
  Show("OpenFileReadStream", streams->OpenFileReadStream(streams, fs, file, &stream), streams);
  char buffer[128] = {};
  streams->ReadStream(streams, stream, buffer, sizeof(buffer) - 1, &done);
  std::printf("     ReadStream -> count %" PRIu64 ": %s", done, buffer);
  streams->CloseStream(streams, stream);

  sl::sdk::FileSystem wrapped(sl::sdk::Ref<SLFileSystem>::Adopt(fs));  // takes over our reference
  for (const std::u16string& name : wrapped.Search(u"/notes/*")) {
    std::printf("     Search(/notes/*) found \"%s\"\n", sl::sdk::ToUtf8(name).c_str());
  }
  std::printf("  its own failure, and the record it leaves:\n");
  Show("OpenFile(/notes/missing.txt, read)",
       fs->OpenFile(fs, u"/notes/missing.txt", SL_OPEN_READ, &file), fs);
  std::printf("     open files left: %zu\n", (*memory)->OpenFileCount());
  return 0;
}

}  // namespace slhost::demo
