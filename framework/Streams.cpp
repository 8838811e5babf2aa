#include "framework/Streams.h"

#include <algorithm>
#include <cstring>

#include "framework/SysUtils.h"

namespace framework {

int64_t TStream::Size() {
    const int64_t pos = Position();
    const int64_t size = Seek(0, TSeekOrigin::soEnd);
    SetPosition(pos);
    return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    char chunk[65536];
    int64_t left = count;
    while (left > 0) {
        const int64_t n = std::min<int64_t>(left, sizeof chunk);
        source.ReadBuffer(chunk, n);
        WriteBuffer(chunk, n);
        left -= n;
    }
    return count;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t size = static_cast<int64_t>(data_.size());
    if (count <= 0 || pos_ >= size) return 0;
    const int64_t n = std::min(count, size - pos_);
    std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (pos_ + count > static_cast<int64_t>(data_.size())) data_.resize(static_cast<size_t>(pos_ + count));
    std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
    pos_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent) base = pos_;
    if (origin == TSeekOrigin::soEnd) base = static_cast<int64_t>(data_.size());
    pos_ = std::max<int64_t>(0, base + offset);
    return pos_;
}

void TMemoryStream::SetSize(int64_t size) {
    data_.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
    pos_ = std::min<int64_t>(pos_, static_cast<int64_t>(data_.size()));
}

void TMemoryStream::Clear() {
    data_.clear();
    pos_ = 0;
}

bool TMemoryStream::LoadFromFile(const std::string& fileName) {
    std::string bytes;
    if (!ReadFileBytes(fileName, bytes)) return false;
    data_ = std::move(bytes);
    pos_ = 0;
    return true;
}

bool TMemoryStream::SaveToFile(const std::string& fileName) const { return WriteFileBytes(fileName, data_); }

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) {
    DWORD access = GENERIC_READ, share = FILE_SHARE_READ, disposition = OPEN_EXISTING;
    if (mode == TFileMode::fmOpenReadWrite) access |= GENERIC_WRITE, share = 0;
    if (mode == TFileMode::fmCreate) access |= GENERIC_WRITE, share = 0, disposition = CREATE_ALWAYS;
    file_.reset(CreateFileA(fileName.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file_) throw EStreamError("Cannot open file \"" + fileName + "\"");
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<int64_t>(count - total, 1 << 30));
        if (!ReadFile(file_.get(), static_cast<char*>(buffer) + total, want, &got, nullptr) || got == 0) break;
        total += got;
    }
    return total;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(std::min<int64_t>(count - total, 1 << 30));
        if (!WriteFile(file_.get(), static_cast<const char*>(buffer) + total, want, &put, nullptr) || put == 0)
            break;
        total += put;
    }
    return total;
}

void TFileStream::SetSize(int64_t size) {
    LARGE_INTEGER at, to;
    at.QuadPart = 0;
    to.QuadPart = std::max<int64_t>(0, size);
    LARGE_INTEGER pos;
    if (!SetFilePointerEx(file_.get(), at, &pos, FILE_CURRENT) || !SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(file_.get()))
        throw EStreamError("Stream size error");
    if (pos.QuadPart < to.QuadPart) SetFilePointerEx(file_.get(), pos, nullptr, FILE_BEGIN);
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    LARGE_INTEGER to, now;
    to.QuadPart = offset;
    const DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                         : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                            : FILE_END;
    if (!SetFilePointerEx(file_.get(), to, &now, method)) return -1;
    return now.QuadPart;
}

}  // namespace framework
