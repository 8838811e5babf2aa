// The per-product rows of the product-name derivation, run at their three places among the
// common steps. Empty until the product rule table is filled in: with them empty, the word
// counts and the common steps name every file.
#include "update/PlimRules.h"

namespace plim {

const std::vector<TProductRule> kProductRulesD1 = {};
const std::vector<TProductRule> kProductRulesD2 = {};
const std::vector<TProductRule> kProductRulesD3 = {};

}  // namespace plim
