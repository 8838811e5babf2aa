#include "net/InetIdn.h"

#include <climits>
#include <vector>

#include "net/InetUtils.h"

namespace {

const int kBase = 36, kTMin = 1, kTMax = 26, kSkew = 38, kDamp = 700, kInitialBias = 72, kInitialN = 128;
const char kAce[] = "xn--";

int32_t Adapt(int32_t delta, int32_t numPoints, bool firstTime) {
    delta = firstTime ? delta / kDamp : delta / 2;
    delta += delta / numPoints;
    int32_t k = 0;
    while (delta > ((kBase - kTMin) * kTMax) / 2) {
        delta /= kBase - kTMin;
        k += kBase;
    }
    return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

char EncodeDigit(int32_t d) { return char(d < 26 ? 'a' + d : '0' + d - 26); }

int32_t DecodeDigit(char c) {
    if (c >= 'a' && c <= 'z') return c - 'a';
    if (c >= '0' && c <= '9') return c - '0' + 26;
    return -1;
}

int32_t Threshold(int32_t k, int32_t bias) {
    if (k <= bias) return kTMin;
    if (k >= bias + kTMax) return kTMax;
    return k - bias;
}

std::vector<uint32_t> CodePoints(const std::wstring& s) {
    std::vector<uint32_t> r;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        r.push_back(c);
    }
    return r;
}

bool AppendUtf16(std::wstring& out, uint32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
        c -= 0x10000;
        out += wchar_t(0xD800 + (c >> 10));
        out += wchar_t(0xDC00 + (c & 0x3FF));
    } else {
        out += wchar_t(c);
    }
    return true;
}

bool IsSeparator(wchar_t c) { return c == L'.' || c == 0x3002 || c == 0xFF0E || c == 0xFF61; }

bool PassesStd3(wchar_t c) {
    return c == L'-' || (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c >= 128;
}

bool StartsWithAce(const std::wstring& s) { return s.compare(0, 4, L"xn--") == 0; }

// ToASCII of one label.
bool LabelToAscii(const std::wstring& label, bool useStd3, std::string& out) {
    out = InetWideToAnsi(label);
    if (useStd3) {
        for (wchar_t c : label)
            if (!PassesStd3(c)) return false;
        if (!label.empty() && (label.front() == L'-' || label.back() == L'-')) return false;
    }
    bool nonAscii = false;
    for (wchar_t c : label) nonAscii = nonAscii || c >= 128;
    if (nonAscii) {
        if (StartsWithAce(label)) return false;
        // "xn--" and at least one character per code point: more than 59 never fit in 63,
        // so the (quadratic) encoder is spared a long label.
        if (CodePoints(label).size() > 59) return false;
        bool error = false;
        std::string encoded = InetPunycodeEncode(label, error);
        if (error) return false;
        out = kAce + encoded;
    }
    return !out.empty() && out.size() <= 63;
}

}  // namespace

std::string InetPunycodeEncode(const std::wstring& Label, bool& Error) {
    Error = false;
    const std::vector<uint32_t> input = CodePoints(Label);
    std::string output;
    for (uint32_t c : input)
        if (c < 0x80) output += char(c);
    const int32_t b = int32_t(output.size());
    int32_t h = b;
    if (b > 0) output += '-';
    int32_t n = kInitialN, delta = 0, bias = kInitialBias;
    const int32_t length = int32_t(input.size());
    while (h < length) {
        uint32_t m = UINT32_MAX;
        for (uint32_t c : input)
            if (c >= uint32_t(n) && c < m) m = c;
        if (m > uint32_t(INT32_MAX) || int64_t(m - n) > (INT32_MAX - delta) / (h + 1)) {
            Error = true;
            return output;
        }
        delta += int32_t(m - n) * (h + 1);
        n = int32_t(m);
        for (uint32_t c : input) {
            if (c < uint32_t(n)) {
                if (delta == INT32_MAX) {
                    Error = true;
                    return output;
                }
                ++delta;
            }
            if (c == uint32_t(n)) {
                int32_t q = delta;
                for (int32_t k = kBase;; k += kBase) {
                    int32_t t = Threshold(k, bias);
                    if (q < t) break;
                    output += EncodeDigit(t + (q - t) % (kBase - t));
                    q = (q - t) / (kBase - t);
                }
                output += EncodeDigit(q);
                bias = Adapt(delta, h + 1, h == b);
                delta = 0;
                ++h;
            }
        }
        if (delta == INT32_MAX || n == INT32_MAX) {
            Error = true;
            return output;
        }
        ++delta;
        ++n;
    }
    return output;
}

std::wstring InetPunycodeDecode(const std::string& Label, bool& Error) {
    Error = false;
    std::vector<uint32_t> out;
    size_t delim = Label.rfind('-');
    size_t b = delim == std::string::npos ? 0 : delim;
    for (size_t j = 0; j < b; ++j) {
        unsigned char c = static_cast<unsigned char>(Label[j]);
        if (c >= 0x80) {
            Error = true;
            return {};
        }
        out.push_back(c);
    }
    int32_t n = kInitialN, i = 0, bias = kInitialBias;
    for (size_t in = b > 0 ? b + 1 : 0; in < Label.size();) {
        const int32_t oldi = i;
        int32_t w = 1;
        for (int32_t k = kBase;; k += kBase) {
            if (in >= Label.size()) {
                Error = true;
                return {};
            }
            int32_t digit = DecodeDigit(Label[in++]);
            if (digit < 0 || digit > (INT32_MAX - i) / w) {
                Error = true;
                return {};
            }
            i += digit * w;
            int32_t t = Threshold(k, bias);
            if (digit < t) break;
            if (w > INT32_MAX / (kBase - t)) {
                Error = true;
                return {};
            }
            w *= kBase - t;
        }
        const int32_t count = int32_t(out.size()) + 1;
        bias = Adapt(i - oldi, count, oldi == 0);
        if (i / count > INT32_MAX - n) {
            Error = true;
            return {};
        }
        n += i / count;
        i %= count;
        out.insert(out.begin() + i, uint32_t(n));
        ++i;
    }
    std::wstring r;
    for (uint32_t c : out)
        if (!AppendUtf16(r, c)) {
            Error = true;
            return {};
        }
    return r;
}

std::string InetHostToAsciiEx(const std::wstring& Host, bool UseStd3, bool& Error) {
    Error = false;
    bool ascii = true;
    for (wchar_t c : Host) ascii = ascii && c < 128;
    if (ascii) {
        if (UseStd3)
            for (wchar_t c : Host)
                if (c != L'.' && !PassesStd3(c)) Error = true;
        return InetWideToAnsi(Host);
    }
    std::vector<std::wstring> labels(1);
    for (wchar_t c : Host) {
        if (IsSeparator(c))
            labels.emplace_back();
        else
            labels.back() += c;
    }
    std::string result;
    for (size_t i = 0; i < labels.size(); ++i) {
        std::string label;
        if (!LabelToAscii(labels[i], i + 1 == labels.size() ? true : UseStd3, label)) {
            Error = true;
            return result;
        }
        if (i) result += '.';
        result += label;
    }
    return result;
}

std::string InetHostToAsciiEx(const std::string& Host, bool UseStd3, bool& Error) {
    return InetHostToAsciiEx(InetAnsiToWide(Host), UseStd3, Error);
}

std::string InetHostToAscii(const std::wstring& Host) {
    bool error = false;
    std::string r = InetHostToAsciiEx(Host, false, error);
    return error ? InetWideToAnsi(Host) : r;
}

std::wstring InetHostToUnicode(const std::string& Host) {
    if (Host.find(kAce) == std::string::npos) return InetAnsiToWide(Host);
    std::wstring result;
    size_t start = 0;
    for (;;) {
        size_t dot = Host.find('.', start);
        std::string label = Host.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        std::wstring converted = InetAnsiToWide(label);
        // Longer than a label may be, it cannot encode back to itself: not decoded at all
        // (the decoder's cost grows with the square of the length, and peers send names).
        if (label.size() <= 63 && label.compare(0, 4, kAce) == 0) {
            bool error = false;
            std::wstring decoded = InetPunycodeDecode(label.substr(4), error);
            std::string again;
            if (!error && LabelToAscii(decoded, false, again) && InetTextCompare(again, label) == 0)
                converted = decoded;
        }
        result += converted;
        if (dot == std::string::npos) break;
        result += L'.';
        start = dot + 1;
    }
    return result;
}
