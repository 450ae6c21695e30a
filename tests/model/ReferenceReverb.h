#pragma once

// A second, deliberately plain model of the reverb unit, written from the behaviour
// description rather than from src/reverb: 64-bit intermediates reduced to 32 bits
// where the unit's arithmetic is 32-bit, the work-area wrap done with the literal
// subtract/add loops, vectors instead of fixed arrays. Tests run it next to the
// plugin's Reverb and compare every sample.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace reference
{

inline int32_t w32(int64_t v)
{
    uint32_t u = static_cast<uint32_t>(static_cast<uint64_t>(v));
    return u >= 0x80000000u ? static_cast<int32_t>(static_cast<int64_t>(u) - 0x100000000LL)
                            : static_cast<int32_t>(u);
}
// Arithmetic shift written as floor division, so it does not rely on >> of negatives.
inline int32_t asr(int32_t v, int s)
{
    return static_cast<int32_t>(std::floor(static_cast<double>(v) / static_cast<double>(1LL << s)));
}
inline int32_t clip16(int64_t v)
{
    return v > 32767 ? 32767 : (v < -32768 ? -32768 : static_cast<int32_t>(v));
}
inline int32_t s16(uint16_t v)
{
    return v >= 0x8000 ? static_cast<int32_t>(v) - 0x10000 : v;
}

struct HardwareModel
{
    std::vector<uint16_t>* ram = nullptr;
    int32_t r[32] = {};
    int32_t k1 = 32768, k2 = -32768;
    int32_t start = 0, cur = 0;
    int32_t calls = 0, prevL = 0, prevR = 0, lastL = 0, lastR = 0;

    void setRegisters(const uint16_t* b)
    {
        for (int i = 0; i < 32; ++i)
            r[i] = s16(b[i]);
        k1 = 32768 - r[2];
        k2 = static_cast<int32_t>(b[8]) - 32768;
    }
    void setStart(uint16_t v) { start = cur = v * 4; }

    int64_t where(int32_t o) const
    {
        int64_t p = static_cast<int64_t>(cur) + 4LL * o;
        while (p > 0x3FFFF)
            p -= (0x40000 - start);
        while (p < start)
            p += (0x40000 - start);
        return p;
    }
    int32_t mem(int32_t o) const { return s16((*ram)[where(o)]); }
    void put(int32_t o, int32_t v) { (*ram)[where(o)] = static_cast<uint16_t>(clip16(v) & 0xFFFF); }
    static int32_t m(int32_t x, int32_t y) { return asr(w32(static_cast<int64_t>(x) * y), 15); }

    void run(int32_t& L, int32_t& R)
    {
        if (calls % 2 == 0)
        {
            prevL = L;
            prevR = R;
            L = lastL;
            R = lastR;
            calls++;
            return;
        }
        int32_t inL = asr(w32(static_cast<int64_t>(L) + prevL), 1);
        int32_t inR = asr(w32(static_cast<int64_t>(R) + prevR), 1);
        int32_t sameL = w32(static_cast<int64_t>(m(mem(r[16]), r[7])) + m(inL, r[30]));
        int32_t sameR = w32(static_cast<int64_t>(m(mem(r[17]), r[7])) + m(inR, r[31]));
        int32_t crossL = w32(static_cast<int64_t>(m(mem(r[25]), r[7])) + m(inL, r[30]));
        int32_t crossR = w32(static_cast<int64_t>(m(mem(r[24]), r[7])) + m(inR, r[31]));
        int32_t nSL = w32(static_cast<int64_t>(m(sameL, r[2])) + m(mem(r[10]), k1));
        int32_t nSR = w32(static_cast<int64_t>(m(sameR, r[2])) + m(mem(r[11]), k1));
        int32_t nCL = w32(static_cast<int64_t>(m(crossL, r[2])) + m(mem(r[18]), k1));
        int32_t nCR = w32(static_cast<int64_t>(m(crossR, r[2])) + m(mem(r[19]), k1));
        int32_t accL = w32(static_cast<int64_t>(m(mem(r[12]), r[3])) + m(mem(r[14]), r[4]) +
                           m(mem(r[20]), r[5]) + m(mem(r[22]), r[6]));
        int32_t accR = w32(static_cast<int64_t>(m(mem(r[13]), r[3])) + m(mem(r[15]), r[4]) +
                           m(mem(r[21]), r[5]) + m(mem(r[23]), r[6]));
        int32_t a0 = mem(r[26] - r[0]), a1 = mem(r[27] - r[0]);
        int32_t b0 = mem(r[28] - r[1]), b1 = mem(r[29] - r[1]);
        put(r[26], w32(static_cast<int64_t>(accL) - m(a0, r[8])));
        put(r[27], w32(static_cast<int64_t>(accR) - m(a1, r[8])));
        put(r[28], w32(static_cast<int64_t>(m(accL, r[8])) - m(a0, k2) - m(b0, r[9])));
        put(r[29], w32(static_cast<int64_t>(m(accR, r[8])) - m(a1, k2) - m(b1, r[9])));
        L = lastL;
        R = lastR;
        lastL = asr(mem(r[26]) + mem(r[28]), 1);
        lastR = asr(mem(r[27]) + mem(r[29]), 1);
        L = asr(L + lastL, 1);
        R = asr(R + lastR, 1);
        cur++;
        if (cur > 0x3FFFF)
            cur = start;
        put(r[10], nSL);
        put(r[11], nSR);
        put(r[18], nCL);
        put(r[19], nCR);
        calls++;
    }
};

struct EchoModel
{
    std::vector<int32_t> ring = std::vector<int32_t>(8192, 0);
    int pos = 0;
    void reset()
    {
        std::fill(ring.begin(), ring.end(), 0);
        pos = 0;
    }
    void run(int32_t& L, int32_t& R)
    {
        int32_t dL = ring[pos], dR = ring[pos + 1];
        int32_t A = asr(w32(static_cast<int64_t>(dL) * 192), 8);
        int32_t B = asr(w32(static_cast<int64_t>(dR) * 192), 8);
        ring[pos] = w32(static_cast<int64_t>(A) + L);
        ring[pos + 1] = w32(static_cast<int64_t>(B) + R);
        pos = (pos + 2) % 8192;
        L = asr(w32(static_cast<int64_t>(A) + asr(w32(static_cast<int64_t>(dR) * 192), 9)), 1);
        R = asr(w32(static_cast<int64_t>(B) + asr(w32(static_cast<int64_t>(dL) * 192), 9)), 1);
    }
};

struct TimidityModel
{
    // Integer twins of the level constants, worked out by hand (value x 256, truncated).
    static constexpr int INP = 140, LPF_LEV = 115, LPF_INP = 140, WIDTH = 32, HPF = 179, FBK = 230,
                         NMIX = 217, EPF_LEV = 102, EPF_INP = 128;
    std::vector<int32_t> bufL[4], bufR[4];
    int len[4] = {1, 1, 1, 1}, pos[4] = {0, 0, 0, 0};
    int32_t ta = 0, tb = 0, hL = 0, hR = 0, lL = 0, lR = 0, eL = 0, eR = 0;

    void configure(const uint16_t* b)
    {
        static const int cap[4] = {1376, 2736, 11472, 5472};
        static const double ms[4] = {5.3, 10.5, 44.12, 21.0};
        int64_t S = 0;
        for (int i = 8; i <= 29; ++i)
            S += b[i];
        if (S > 278528)
            S = 278528;
        for (int k = 0; k < 4; ++k)
        {
            bufL[k].assign(cap[k], 0);
            bufR[k].assign(cap[k], 0);
            pos[k] = 0;
            len[k] = static_cast<int>(std::trunc(ms[k] * 44100 / 1000 * static_cast<double>(S) / 69632)) + 1;
        }
        ta = tb = hL = hR = lL = lR = eL = eR = 0;
    }
    static int32_t mul(int64_t a, int64_t b) { return w32(a * b); }
    static int32_t add(int64_t a, int64_t b) { return w32(a + b); }

    void side(int32_t& s, std::vector<int32_t>* D, int32_t& l, int32_t& h, int32_t& e, bool left)
    {
        int32_t t = asr(mul(s, INP), 8);
        l = asr(add(add(mul(LPF_LEV, l), mul(LPF_INP, add(tb, D[2][pos[2]]))), mul(WIDTH, ta)), 8);
        ta = D[3][pos[3]];
        int32_t x = D[0][pos[0]];
        D[3][pos[3]] = x;
        D[0][pos[0]] = left ? w32(-static_cast<int64_t>(l)) : l;
        int32_t hh = asr(mul(add(t, h), HPF), 8);
        h = add(hh, -static_cast<int64_t>(t));
        D[2][pos[2]] = asr(mul(add(x, -static_cast<int64_t>(asr(mul(t, FBK), 8))), NMIX), 8);
        tb = D[1][pos[1]];
        D[1][pos[1]] = hh;
        e = asr(add(mul(EPF_LEV, e), mul(EPF_INP, ta)), 8);
        s = add(ta, e);
    }
    void run(int32_t& L, int32_t& R)
    {
        side(L, bufL, lL, hL, eL, true);
        side(R, bufR, lR, hR, eR, false);
        for (int k = 0; k < 4; ++k)
            pos[k] = (pos[k] + 1 < len[k]) ? pos[k] + 1 : 0;
    }
};

struct CombBankModel
{
    static constexpr int LineCap = 8192; // lengths above the line are clamped to it
    std::vector<int32_t> lineL[10], lineR[10];
    int len[10] = {}, pos[10] = {};
    std::vector<int32_t> longL = std::vector<int32_t>(16384, 0), longR = std::vector<int32_t>(16384, 0);
    int lenL = 0, lenR = 0, posL = 0, posR = 0;
    int32_t pL = 0, pR = 0, g = 0, gk = 32767, gL = 0, gR = 0, f = 0, cL = 0, cR = 0;

    CombBankModel()
    {
        for (int k = 0; k < 10; ++k)
        {
            lineL[k].assign(LineCap, 0);
            lineR[k].assign(LineCap, 0);
        }
    }
    void configure(const uint16_t* b)
    {
        g = b[2];
        gk = 32767 - g;
        gL = static_cast<int32_t>(asr(s16(b[3]) * s16(b[30]), 15) * 2 / 3);
        gR = static_cast<int32_t>(asr(s16(b[4]) * s16(b[31]), 15) * 2 / 3);
        f = b[7];
        cL = s16(b[5]);
        cR = s16(b[6]);
        lenL = std::min(b[0] * 16, 0x3FFF);
        lenR = std::min(b[1] * 16, 0x3FFF);
        posL = posR = 0;
        for (int k = 0; k < 10; ++k)
        {
            len[k] = std::min<int>(b[10 + 2 * k], LineCap);
            pos[k] = 0;
        }
    }
    static int nxt(int p, int n) { return p + 1 < n ? p + 1 : 0; }
    void run(int32_t& L, int32_t& R)
    {
        pL = asr(w32(static_cast<int64_t>(clip16(L)) * g + static_cast<int64_t>(gk) * pL), 15);
        pR = asr(w32(static_cast<int64_t>(clip16(R)) * g + static_cast<int64_t>(gk) * pR), 15);
        int32_t xL = asr(w32(static_cast<int64_t>(pL) * gL), 15);
        int32_t xR = asr(w32(static_cast<int64_t>(pR) * gR), 15);
        int64_t sumL = 0, sumR = 0;
        for (int k = 0; k < 10; ++k)
        {
            if (len[k] != 0)
            {
                sumL += lineL[k][pos[k]];
                sumR += lineR[k][pos[k]];
            }
            lineL[k][pos[k]] =
                asr(clip16(static_cast<int64_t>(w32(static_cast<int64_t>(xL) + lineL[k][pos[k]]))) * f, 16);
            lineR[k][pos[k]] =
                asr(clip16(static_cast<int64_t>(w32(static_cast<int64_t>(xR) + lineR[k][pos[k]]))) * f, 16);
            pos[k] = nxt(pos[k], len[k]);
        }
        longL[posL] = asr(clip16(sumL + longL[posL]) * f, 16);
        longR[posR] = asr(clip16(sumR + longR[posR]) * f, 16);
        posL = nxt(posL, lenL);
        posR = nxt(posR, lenR);
        sumL += asr(longR[posR] * cL, 15);
        sumR += asr(longL[posL] * cR, 15);
        L = clip16(sumL);
        R = clip16(sumR);
    }
};

struct FreeverbModel
{
    struct Line
    {
        std::vector<float> data;
        size_t at = 0;
        explicit Line(size_t n = 0) : data(n, 0.0f) {}
    };
    static float flush(float v)
    {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        return ((bits >> 23) & 0xFF) == 0 ? 0.0f : v;
    }
    Line combL[8], combR[8], apL[4], apR[4];
    float lpL[8] = {}, lpR[8] = {};
    float feedback = 0, damp = 0.1f, undamp = 0.9f, gain = 0.015f, wetdirect = 0;

    FreeverbModel()
    {
        static const int c[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
        static const int a[4] = {556, 441, 341, 225};
        for (int i = 0; i < 8; ++i)
        {
            combL[i] = Line(c[i]);
            combR[i] = Line(c[i] + 23);
        }
        for (int i = 0; i < 4; ++i)
        {
            apL[i] = Line(a[i]);
            apR[i] = Line(a[i] + 23);
        }
        // wet 0.333333 x 3, width 1: direct gain wet x 1, cross 0, dry 0.
        float wet = 0.333333f * 3.0f;
        wetdirect = wet * (1.0f / 2 + 0.5f);
        damp = 0.25f * 0.4f;
        undamp = 1 - damp;
        setRoom(static_cast<float>(2311 / 12295.0 + 0.3f));
    }
    void setRoom(float x) { feedback = x * 0.28f + 0.7f; }

    float combStep(Line& l, float& lp, float x)
    {
        float out = flush(l.data[l.at]);
        lp = flush(static_cast<float>(static_cast<double>(out) * undamp + static_cast<double>(lp) * damp));
        l.data[l.at] = static_cast<float>(x + static_cast<double>(lp) * feedback);
        if (++l.at == l.data.size())
            l.at = 0;
        return out;
    }
    static double apStep(Line& l, double x)
    {
        float b = flush(l.data[l.at]);
        l.data[l.at] = static_cast<float>(x + static_cast<double>(b) * 0.5f);
        if (++l.at == l.data.size())
            l.at = 0;
        return b - x;
    }
    static int32_t toInt(float v)
    {
        if (!(v < 2147483648.0f))
            return INT32_MAX;
        if (!(v > -2147483648.0f))
            return INT32_MIN;
        return static_cast<int32_t>(std::trunc(v));
    }
    void run(int32_t& L, int32_t& R)
    {
        float fl = static_cast<float>(L), fr = static_cast<float>(R);
        float in = static_cast<float>((static_cast<double>(fl) + fr) * gain);
        double sl = 0, sr = 0;
        for (int i = 0; i < 8; ++i)
        {
            sl += combStep(combL[i], lpL[i], in);
            sr += combStep(combR[i], lpR[i], in);
        }
        for (int i = 0; i < 4; ++i)
        {
            sl = apStep(apL[i], sl);
            sr = apStep(apR[i], sr);
        }
        L = toInt(static_cast<float>(sl * wetdirect));
        R = toInt(static_cast<float>(sr * wetdirect));
    }
};

// The whole unit: selector dispatch and the register-block configuration order.
struct Unit
{
    HardwareModel hw;
    EchoModel echo;
    TimidityModel tm;
    CombBankModel cb;
    FreeverbModel fv;

    Unit()
    {
        uint16_t zero[32] = {};
        setRegisters(zero);
    }
    void setRegisters(const uint16_t* b)
    {
        echo.reset();
        tm.configure(b);
        cb.configure(b);
        hw.setRegisters(b);
    }
    void run(int selector, int32_t& L, int32_t& R)
    {
        if (selector == 0)
            L = R = 0;
        else if (selector == 1)
            tm.run(L, R);
        else if (selector == 2)
            fv.run(L, R);
        else if (selector == 3)
            cb.run(L, R);
        else if (selector == 4)
            hw.run(L, R);
        else if (selector == 99)
            echo.run(L, R);
    }
};

} // namespace reference
