// An owning GMP integer for the tests, the fuzz targets and the benchmarks, where GMP is the
// oracle or the baseline. It converts to GMP's pointer types, so it goes straight into mpz_ calls,
// and offers -> for GMP's macros (mpz_sgn, mpz_cmp_ui), which read the fields through it.
#pragma once

#include <gmp.h>

#include <string>
#include <vector>

namespace zarn::test {

class TGmp {
public:
    TGmp() { mpz_init(m_value); }
    explicit TGmp(long value) { mpz_init_set_si(m_value, value); }
    explicit TGmp(const std::string& decimal) { mpz_init_set_str(m_value, decimal.c_str(), 10); }
    TGmp(const TGmp& other) { mpz_init_set(m_value, other.m_value); }
    TGmp& operator=(const TGmp& other) {
        mpz_set(m_value, other.m_value);
        return *this;
    }
    ~TGmp() { mpz_clear(m_value); }

    mpz_ptr get() { return m_value; }
    mpz_srcptr get() const { return m_value; }
    operator mpz_ptr() { return m_value; }
    operator mpz_srcptr() const { return m_value; }
    mpz_ptr operator->() { return m_value; }
    mpz_srcptr operator->() const { return m_value; }

    // Upper case, "-" in front of a negative value.
    std::string Hex() const { return Text(-16); }
    std::string Decimal() const { return Text(10); }
    std::size_t Bits() const { return mpz_sizeinbase(m_value, 2); }
    bool operator==(const TGmp& other) const { return mpz_cmp(m_value, other.m_value) == 0; }

    // The value's digits in `base` (2 to 36; negative for upper-case letters).
    std::string Text(int base) const {
        std::vector<char> text(mpz_sizeinbase(m_value, base < 0 ? -base : base) + 2);
        mpz_get_str(text.data(), base, m_value);
        return text.data();
    }

private:
    mpz_t m_value;
};

} // namespace zarn::test
