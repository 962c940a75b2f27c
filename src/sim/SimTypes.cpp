#include "sim/SimTypes.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace orvex {

double SimBill::Value() const
{
    double value = digits;
    for (int step = 0; step < exponent; ++step)
        value *= 10.0;
    for (int step = 0; step > exponent; --step)
        value /= 10.0;
    return value;
}

std::string SimBill::ValueText() const
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", Value());
    return text;
}

namespace {

// "12.50" -> digits 125, exponent -1; trailing zeros go into the exponent
// so that 100 becomes 1 x 10^2, the way units describe their bills.
bool ParseBillValue(const std::string& item, SimBill& bill)
{
    std::string digits;
    int fraction = -1;
    for (char c : item) {
        if (c == '.') {
            if (fraction >= 0)
                return false;
            fraction = 0;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            digits += c;
            if (fraction >= 0)
                ++fraction;
        } else {
            return false;
        }
    }
    if (digits.empty() || digits.size() > 12)
        return false;
    int exponent = fraction > 0 ? -fraction : 0;
    std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        bill.digits = 0;
        bill.exponent = 0;
        return true;
    }
    digits = digits.substr(first);
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    long long mantissa = std::stoll(digits);
    if (mantissa > 255)
        return false;
    bill.digits = static_cast<std::uint8_t>(mantissa);
    bill.exponent = exponent;
    return true;
}

} // namespace

std::vector<SimBill> ParseBillTable(const std::string& text, std::string& error)
{
    error.clear();
    std::vector<SimBill> table(kSimBillTypes);
    std::size_t colon = text.find(':');
    std::string currency = colon == std::string::npos ? std::string() : text.substr(0, colon);
    bool currencyValid = currency.size() == 3;
    for (char& c : currency) {
        if (!std::isalpha(static_cast<unsigned char>(c)))
            currencyValid = false;
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (!currencyValid) {
        error = "'" + text + "': expected CUR:V1,V2,... with a three-letter currency";
        return {};
    }
    std::string list = text.substr(colon + 1);
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = list.find(',', start);
        items.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (items.size() > kSimCouponType) {
        error = "'" + text + "': at most 23 bill types (type 23 is the barcode coupon)";
        return {};
    }
    bool any = false;
    for (std::size_t type = 0; type < items.size(); ++type) {
        SimBill bill;
        bill.country = currency;
        if (!items[type].empty() && !ParseBillValue(items[type], bill)) {
            error = "'" + items[type] + "': not a bill value (digits up to 255 times a power of ten)";
            return {};
        }
        if (bill.digits != 0)
            any = true;
        table[type] = bill;
    }
    if (!any) {
        error = "'" + text + "': no bill with a value";
        return {};
    }
    for (std::size_t type = items.size(); type < kSimCouponType; ++type)
        table[type].country = currency;
    // The coupon has no face value; its country field marks it.
    table[kSimCouponType].country = "BAR";
    return table;
}

long SimLedger::CassetteTotal() const
{
    long total = 0;
    for (const auto& cassette : cassettes)
        total += cassette.count;
    return total;
}

bool SimLedger::Balanced() const
{
    for (const auto& cassette : cassettes)
        if (cassette.count < 0 || cassette.count > cassette.capacity)
            return false;
    if (dropBox < 0 || returned < 0 || dispensed < 0 || inChannel < 0 || inChannel > 1 || inDispenser < 0)
        return false;
    return initial + inserted == CassetteTotal() + dropBox + returned + dispensed + inChannel + inDispenser;
}

} // namespace orvex
