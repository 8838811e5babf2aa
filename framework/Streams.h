// Byte streams: TStream (the interface graphics and downloads read and write through),
// TMemoryStream (a growable buffer in memory) and TFileStream (a Win32 file handle).
// Reads and writes move the position; a short read returns what was there.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/Exception.h"
#include "framework/Handles.h"

namespace framework {

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Returns the number of bytes moved (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    int64_t Size();
    // Cuts or extends the stream to size bytes; EStreamError where the stream cannot.
    virtual void SetSize(int64_t size);

    // Exactly count bytes or EStreamError "Stream read error" / "Stream write error".
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source (0: all of it from its start); returns the count.
    int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

    // The whole contents, whatever the position.
    const std::string& Bytes() const { return data_; }
    const char* Memory() const { return data_.data(); }
    void SetSize(int64_t size) override;
    void Clear();
    bool LoadFromFile(const std::string& fileName);
    bool SaveToFile(const std::string& fileName) const;

private:
    std::string data_;
    int64_t pos_ = 0;
};

enum class TFileMode { fmOpenRead, fmOpenReadWrite, fmCreate };

class TFileStream : public TStream {
public:
    // Raises EStreamError "Cannot open file "<name>"" when the file cannot be opened.
    TFileStream(const std::string& fileName, TFileMode mode);

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;

private:
    UniqueHandle file_;
};

}  // namespace framework
