// A host built against the installed package: it loads the module by path, plugs in a file
// system of its own written on the SDK, and reads one of its files through a file read stream;
// where the zip library is installed (CONSUMER_ZIP_LIBRARY, from SLSERVICES_ZIP_LIBRARY or
// pkg-config's zip), it loads that too and asks it for an archive that is not there. Last, it
// runs the conformance kit of the package's testing component on the SDK's in-memory file system.
//
//   consumer [MODULE_PATH]
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "slservices/sdk/sdk.hpp"
#include "slservices/testing/conformance.hpp"

namespace {

// Every path is a read-only file whose text greets the path's last part.
class Greeting : public sl::sdk::FileBase {
 public:
  explicit Greeting(std::string text) : text_(std::move(text)) {}
  SLResult Read(uint64_t offset, void* buffer, uint64_t size, uint64_t* done) override {
    *done = offset < text_.size()
                ? text_.copy(static_cast<char*>(buffer), static_cast<size_t>(size), offset)
                : 0;
    return SL_OK;
  }
  SLResult Size(uint64_t* size) override {
    *size = text_.size();
    return SL_OK;
  }

 private:
  std::string text_;
};

class Greetings : public sl::sdk::FileSystemBase {
 public:
  using FileSystemBase::FileSystemBase;
  const char* DisplayName() const override { return "Greetings"; }

 protected:
  SLResult OpenFile(std::u16string_view path, sl::sdk::OpenMode mode,
                    std::unique_ptr<sl::sdk::FileBase>* file) override {
    if (mode != sl::sdk::OpenMode::Read) return Fail(SL_ACCESS_DENIED, "greetings are read-only");
    const std::string name = sl::sdk::ToUtf8(path.substr(path.find_last_of(u"/\\") + 1));
    if (name.empty()) return Fail(SL_NOT_FOUND, "no name to greet");
    *file = std::make_unique<Greeting>("Hello, " + name + "!\n");
    return SL_OK;
  }
};

}  // namespace

int main(int argc, char** argv) {
  try {
    auto module = sl::sdk::Module::Open(argc > 1 ? argv[1] : CONSUMER_MODULE_PATH);
    sl::sdk::FileSystemService files(*module);
    sl::sdk::StreamService streams(*module);

    auto greetings = sl::sdk::MakeRef<Greetings>(module->Atom("Greetings"));
    files.Register(greetings->table());
    sl::sdk::FileSystem fs = files.Find(module->Atom("Greetings"));

    std::string line;
    std::getline(streams.OpenRead(fs, "/people/Ada"), line);
    std::cout << line << "\n";
    const sl::sdk::Outcome refused = sl::sdk::Try([&] { fs.Open("/people/Ada", SL_OPEN_CREATE); });
    std::cout << refused.message << "\n";
    if (line != "Hello, Ada!" || refused.code != SL_ACCESS_DENIED) return 1;
#ifdef CONSUMER_ZIP_LIBRARY
    if (std::string(CONSUMER_ZIP_LIBRARY).empty()) {
      std::cout << "consumer: no zip library in this package\n";
    } else {
      auto zips = sl::sdk::ZipArchives::Open(CONSUMER_ZIP_LIBRARY);
      const sl::sdk::Outcome missing =
          sl::sdk::Try([&] { zips->OpenArchive("no-such-archive.zip", module->Atom("Zip")); });
      std::cout << missing.message << "\n";
      if (missing.code != SL_NOT_FOUND) return 1;
    }
#endif
    auto memory = sl::sdk::MakeRef<sl::sdk::MemoryFileSystem>(module->Atom("Memory"));
    memory->SetFile("/scratch/.keep", "");
    std::ostringstream report;
    if (sl::sdk::CheckFileSystem(memory->table(), {u"/scratch", u"", 2}, report) != 0) {
      std::cerr << report.str();
      return 1;
    }
    std::cout << "consumer: ok\n";
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "consumer: " << error.what() << "\n";
    return 1;
  }
}
