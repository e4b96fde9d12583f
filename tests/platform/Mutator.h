#pragma once

#include <QByteArray>
#include <QList>

#include <random>

namespace kovra::test {

// Deterministic mutations of seed inputs for the fuzz tests. Each one applies one to four
// steps: flip a bit, insert a random byte or a token, turn a digit into a token, cut or
// repeat a range, truncate, or splice in part of another seed.
class Mutator {
public:
    Mutator(quint32 seed, QList<QByteArray> seeds, QList<QByteArray> tokens)
        : m_random(seed), m_seeds(std::move(seeds)), m_tokens(std::move(tokens))
    {
    }

    // A mutation of seed `n` (modulo their number).
    QByteArray mutate(int n)
    {
        QByteArray input = m_seeds.at(n % m_seeds.size());
        for (int steps = 1 + pick(4); steps > 0; --steps)
            input = step(input);
        return input;
    }

private:
    int pick(qsizetype n) { return n <= 0 ? 0 : int(m_random() % quint32(n)); }
    qsizetype at(const QByteArray &b) { return pick(b.size() + 1); }
    const QByteArray &token() { return m_tokens.at(pick(m_tokens.size())); }

    QByteArray step(QByteArray b)
    {
        const qsizetype i = at(b);
        switch (pick(8)) {
        case 0:
            if (i < b.size())
                b[i] = char(b[i] ^ (1 << pick(8)));
            return b;
        case 1:
            return b.insert(i, char(pick(256)));
        case 2:
            return b.insert(i, token());
        case 3: {
            const qsizetype digit = b.indexOf(QByteArray::number(pick(10)), i);
            return digit < 0 ? b : b.replace(digit, 1, token());
        }
        case 4:
            return b.remove(i, pick(b.size() - i + 1));
        case 5:
            return b.insert(at(b), b.mid(i, pick(64)));
        case 6:
            return b.left(i);
        default: {
            const QByteArray &other = m_seeds.at(pick(m_seeds.size()));
            const qsizetype from = at(other);
            return b.insert(i, other.mid(from, pick(other.size() - from + 1)));
        }
        }
    }

    std::mt19937 m_random;
    QList<QByteArray> m_seeds;
    QList<QByteArray> m_tokens;
};

} // namespace kovra::test
