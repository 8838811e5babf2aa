#include "net/HttpChallenges.h"

#include <cstring>

#include "net/InetUtils.h"

namespace {

bool IsBlank(char C) { return C == ' ' || C == '\t'; }

bool IsTokenChar(char C) {
    if (C <= ' ' || C >= 0x7F) return false;
    return std::strchr("()<>@,;:\\\"/[]?={}", C) == nullptr;
}

class TChallengeReader {
public:
    explicit TChallengeReader(const std::string& Value) : v_(Value), n_(Value.size()) {}

    std::vector<THttpChallenge> Read() {
        std::vector<THttpChallenge> out;
        SkipSeparators();
        while (i_ < n_) {
            const size_t start = i_;
            const size_t nameEnd = TokenEnd(i_);
            // No scheme, or a parameter without a challenge before it: not a challenge.
            if (nameEnd == i_ || ParamAt(i_)) {
                SkipElement();
                SkipSeparators();
                continue;
            }
            THttpChallenge c;
            c.Scheme = InetAsciiLower(v_.substr(i_, nameEnd - i_));
            i_ = nameEnd;
            size_t end = i_;
            SkipBlanks();
            if (i_ < n_ && v_[i_] != ',') {
                if (ParamAt(i_)) {
                    end = ReadParams(c);
                } else {
                    // A token68: up to the next comma.
                    const size_t b = i_;
                    SkipElement();
                    c.Token68 = InetTrimBlanks(v_.substr(b, i_ - b));
                    end = b + c.Token68.size();
                }
            }
            c.Text = v_.substr(start, end - start);
            out.push_back(std::move(c));
            SkipSeparators();
        }
        return out;
    }

private:
    size_t TokenEnd(size_t At) const {
        while (At < n_ && IsTokenChar(v_[At])) ++At;
        return At;
    }
    void SkipBlanks() {
        while (i_ < n_ && IsBlank(v_[i_])) ++i_;
    }
    void SkipSeparators() {
        while (i_ < n_ && (IsBlank(v_[i_]) || v_[i_] == ',')) ++i_;
    }
    // To the next comma outside a quoted string.
    void SkipElement() {
        while (i_ < n_ && v_[i_] != ',') {
            if (v_[i_] == '"') {
                SkipQuoted();
                continue;
            }
            ++i_;
        }
    }
    void SkipQuoted() {
        for (++i_; i_ < n_ && v_[i_] != '"'; ++i_)
            if (v_[i_] == '\\' && i_ + 1 < n_) ++i_;
        if (i_ < n_) ++i_;
    }
    // name "=" value at At (blanks allowed around "="); a token68's trailing "=" padding is
    // followed by nothing, a comma or another "=", never by a value.
    bool ParamAt(size_t At) const {
        size_t p = TokenEnd(At);
        if (p == At) return false;
        while (p < n_ && IsBlank(v_[p])) ++p;
        if (p >= n_ || v_[p] != '=') return false;
        ++p;
        while (p < n_ && IsBlank(v_[p])) ++p;
        return p < n_ && v_[p] != ',' && v_[p] != '=';
    }
    // The parameters from i_ on, as long as the next element is one; returns where the last
    // one ended.
    size_t ReadParams(THttpChallenge& C) {
        size_t end = i_;
        for (;;) {
            const size_t nameEnd = TokenEnd(i_);
            std::string name = InetAsciiLower(v_.substr(i_, nameEnd - i_));
            i_ = nameEnd;
            SkipBlanks();
            ++i_;  // "="
            SkipBlanks();
            std::string value;
            if (v_[i_] == '"') {
                for (++i_; i_ < n_ && v_[i_] != '"'; ++i_) {
                    if (v_[i_] == '\\' && i_ + 1 < n_) ++i_;
                    value += v_[i_];
                }
                if (i_ < n_) ++i_;
                end = i_;
                // Whatever else stands before the next comma belongs to nothing.
                SkipElement();
            } else {
                // A token; servers also send base64 nonces bare, "=" and "/" included.
                const size_t b = i_;
                SkipElement();
                value = InetTrimBlanks(v_.substr(b, i_ - b));
                end = b + value.size();
            }
            C.Params.emplace(std::move(name), std::move(value));
            SkipSeparators();
            if (i_ >= n_ || !ParamAt(i_)) return end;
        }
    }

    const std::string& v_;
    const size_t n_;
    size_t i_ = 0;
};

}  // namespace

std::string THttpChallenge::Param(const std::string& Name, const std::string& Default) const {
    const auto it = Params.find(Name);
    return it == Params.end() ? Default : it->second;
}

std::vector<THttpChallenge> HttpParseChallenges(const std::string& Value) { return TChallengeReader(Value).Read(); }
