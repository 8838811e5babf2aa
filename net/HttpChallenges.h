// The challenges of a WWW-Authenticate or Proxy-Authenticate field value, read the same way
// by the HTTP client and by the CONNECT tunnel layer. One value may hold several challenges,
// comma separated: a scheme, then either a token68 (NTLM's message) or name=value parameters
// (values as tokens or quoted strings, which may hold commas). Each challenge counts; which
// one is answered is the caller's choice.
#pragma once

#include <map>
#include <string>
#include <vector>

struct THttpChallenge {
    std::string Scheme;   // lower case: "basic", "digest", "ntlm", ...
    std::string Text;     // the challenge as it came, from its scheme to its last parameter
    std::string Token68;  // what followed the scheme when it was no parameter list
    // Parameter names in lower case, quoted values unescaped; the first of a repeated name.
    std::map<std::string, std::string> Params;

    // The value of a parameter, or Default when the challenge has none of that name.
    std::string Param(const std::string& Name, const std::string& Default = std::string()) const;
};

// The challenges of one field value, in their order. Elements that are neither a challenge
// nor a parameter of one (stray commas, text without a scheme) are skipped.
std::vector<THttpChallenge> HttpParseChallenges(const std::string& Value);
