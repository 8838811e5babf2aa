// The per-product rows of the product-name derivation, run at their three places among the
// common steps: each list hands the working values to its part of the product table.
#include "update/PlimRules.h"
#include "update/ProductTable.h"

namespace plim {
namespace {
bool EveryFile(const TProductWork&) { return true; }
}  // namespace

const std::vector<TProductRule> kProductRulesD1 = {{"product table, first list", EveryFile, ApplyProductTableD1}};
const std::vector<TProductRule> kProductRulesD2 = {{"product table, second list", EveryFile, ApplyProductTableD2}};
const std::vector<TProductRule> kProductRulesD3 = {{"product table, third list", EveryFile, ApplyProductTableD3}};

}  // namespace plim
