// One transfer through the module's streams over an SFTP file system, timed: the module's side
// of scripts/bench-sftp.sh, which times OpenSSH's sftp and scp on the same file beside it.
//
//   sftp_stream_bench MODULE_PATH SFTP_LIB URL read REMOTE_PATH [LOCAL_COPY]
//   sftp_stream_bench MODULE_PATH SFTP_LIB URL write REMOTE_PATH MIB [LOCAL_SOURCE]
//
// read: opens REMOTE_PATH (a path of the file system, below the URL's folder) and reads it
// through a file read stream in 64 KiB ReadStream calls, writing the bytes to LOCAL_COPY when
// given. write: creates REMOTE_PATH and writes MIB MiB through a file write stream in 64 KiB
// WriteStream calls, then closes the stream; the bytes come from LOCAL_SOURCE when given, else
// from a fixed pattern. Both check the count against the file's size as the server reports it.
// Prints one line: the bytes, the seconds to connect and to move them, and MB/s (10^6 bytes)
// of the whole, connection included (as a run of sftp or scp includes its own). Exit 0 when the
// count is right; 1 on any failure, with the reason.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "slservices/sdk/sdk.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t kChunk = 64 * 1024;

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

int Usage() {
  std::cerr << "usage: sftp_stream_bench MODULE_PATH SFTP_LIB URL read REMOTE_PATH [LOCAL_COPY]\n"
               "       sftp_stream_bench MODULE_PATH SFTP_LIB URL write REMOTE_PATH MIB "
               "[LOCAL_SOURCE]\n";
  return 2;
}

// The size the server reports for the file, opened anew.
uint64_t RemoteSize(const sl::sdk::FileSystem& fs, const std::string& path) {
  sl::sdk::File file = fs.Open(path, SL_OPEN_READ);
  const uint64_t size = file.Size();
  file.Close();
  return size;
}

uint64_t Read(const sl::sdk::StreamService& streams, const sl::sdk::FileSystem& fs,
              const std::string& path, const char* copyPath) {
  FILE* copy = nullptr;
  if (copyPath != nullptr && (copy = std::fopen(copyPath, "wb")) == nullptr) {
    throw std::runtime_error(std::string("cannot create ") + copyPath);
  }
  sl::sdk::File file = fs.Open(path, SL_OPEN_READ);
  const uint64_t size = file.Size();
  SLStreamService* service = streams.get();
  SLStreamHandle stream = nullptr;
  sl::sdk::Check(service->OpenFileReadStream(service, fs.get(), file.handle(), &stream), service,
                 "SLStreamService::OpenFileReadStream");
  file.Detach();  // the stream closes it
  std::vector<char> buffer(kChunk);
  uint64_t total = 0;
  for (;;) {
    uint64_t done = 0;
    const SLResult code = service->ReadStream(service, stream, buffer.data(), kChunk, &done);
    if (SL_FAILED(code)) {
      service->CloseStream(service, stream);
      throw std::runtime_error("ReadStream failed with " + std::to_string(code));
    }
    if (copy != nullptr && std::fwrite(buffer.data(), 1, done, copy) != done) {
      service->CloseStream(service, stream);
      throw std::runtime_error(std::string("cannot write ") + copyPath);
    }
    total += done;
    if (done < kChunk) break;
  }
  service->CloseStream(service, stream);
  if (copy != nullptr && std::fclose(copy) != 0) {
    throw std::runtime_error(std::string("cannot write ") + copyPath);
  }
  if (total != size) {
    throw std::runtime_error("read " + std::to_string(total) + " bytes of a file of " +
                             std::to_string(size));
  }
  return total;
}

uint64_t Write(const sl::sdk::StreamService& streams, const sl::sdk::FileSystem& fs,
               const std::string& path, uint64_t bytes, const char* sourcePath) {
  FILE* source = nullptr;
  if (sourcePath != nullptr && (source = std::fopen(sourcePath, "rb")) == nullptr) {
    throw std::runtime_error(std::string("cannot open ") + sourcePath);
  }
  std::vector<char> buffer(kChunk);
  if (source == nullptr) {
    uint32_t state = 0x9E3779B9u;  // xorshift: bytes that no layer compresses to nothing
    for (char& c : buffer) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      c = static_cast<char>(state);
    }
  }
  sl::sdk::File file = fs.Open(path, SL_OPEN_CREATE);
  SLStreamService* service = streams.get();
  SLStreamHandle stream = nullptr;
  sl::sdk::Check(service->OpenFileWriteStream(service, fs.get(), file.handle(), &stream), service,
                 "SLStreamService::OpenFileWriteStream");
  file.Detach();
  uint64_t total = 0;
  while (total < bytes) {
    uint64_t size = std::min<uint64_t>(kChunk, bytes - total);
    if (source != nullptr) {
      size = std::fread(buffer.data(), 1, size, source);
      if (size == 0) break;  // the source is shorter: what it has is written
    }
    uint64_t done = 0;
    const SLResult code = service->WriteStream(service, stream, buffer.data(), size, &done);
    if (SL_FAILED(code)) {
      service->CloseStream(service, stream);
      throw std::runtime_error("WriteStream failed with " + std::to_string(code));
    }
    total += size;
  }
  service->CloseStream(service, stream);
  if (source != nullptr) std::fclose(source);
  // A write stream shows no failure of its device: the server's size tells.
  const uint64_t stored = RemoteSize(fs, path);
  if (stored != total) {
    throw std::runtime_error("wrote " + std::to_string(total) + " bytes, the server holds " +
                             std::to_string(stored));
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) return Usage();
  const std::string mode = argv[4];
  const std::string path = argv[5];
  if (!((mode == "read" && argc <= 7) || (mode == "write" && argc >= 7 && argc <= 8))) {
    return Usage();
  }
  try {
    auto module = sl::sdk::Module::Open(argv[1]);
    auto sftp = sl::sdk::SftpConnections::Open(argv[2]);  // goes after the connection
    sl::sdk::StreamService streams(*module);
    const Clock::time_point start = Clock::now();
    uint64_t bytes = 0;
    Clock::time_point connected;
    {
      sl::sdk::FileSystem fs(sftp->Connect(argv[3], module->Atom("Sftp")));
      connected = Clock::now();
      if (mode == "read") {
        bytes = Read(streams, fs, path, argc == 7 ? argv[6] : nullptr);
      } else {
        const uint64_t mib = std::strtoull(argv[6], nullptr, 10);
        bytes = Write(streams, fs, path, mib << 20, argc == 8 ? argv[7] : nullptr);
      }
    }  // the connection closes here
    const Clock::time_point end = Clock::now();
    const double total = Seconds(start, end);
    std::printf("sftp_stream_bench: %s %llu bytes, connect %.3f s, transfer %.3f s, %.1f MB/s\n",
                mode.c_str(), static_cast<unsigned long long>(bytes), Seconds(start, connected),
                Seconds(connected, end), total > 0 ? static_cast<double>(bytes) / total / 1e6 : 0);
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "sftp_stream_bench: " << error.what() << "\n";
    return 1;
  }
}
