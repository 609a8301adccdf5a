#pragma once
// A file opened for reading by descriptor, closed when the object goes.
#include <string>

namespace tessera {

class ReadOnlyFile {
  public:
    explicit ReadOnlyFile(const std::string& path);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }
    // "it cannot be opened (REASON)", for a file that did not open.
    const std::string& Refusal() const { return refusal_; }

  private:
    int fd_ = -1;
    std::string refusal_;
};

}  // namespace tessera
