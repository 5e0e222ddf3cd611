// MD5 throughput of the three implementations at hand, measured in the same
// run on the same data: ours (Md5, used by the checksum reader, the helper's
// read-back check and the downloads), OpenSSL's libcrypto through its EVP
// interface, and Qt's QCryptographicHash.
//
//   md5bench [MiB per run, default 1024] [runs, default 5]
//
// Each run hashes the data once with each implementation, in an order that
// rotates from run to run; the best and the median of the runs are printed
// for the three piece sizes the program feeds: 32 KiB steps (checksum reader),
// 64 KiB network chunks (downloads) and 4 MiB buffers (helper).

#include "md5.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Hasher = std::function<QByteArray(const std::vector<unsigned char> &, std::size_t piece, long long total)>;

QByteArray ours(const std::vector<unsigned char> &data, std::size_t piece, long long total)
{
    Md5 md5;
    for (long long done = 0; done < total; done += static_cast<long long>(data.size())) {
        for (std::size_t at = 0; at < data.size(); at += piece)
            md5.update(data.data() + at, std::min(piece, data.size() - at));
    }
    const Md5::Digest digest = md5.result();
    return QByteArray(reinterpret_cast<const char *>(digest.data()), int(digest.size()));
}

QByteArray openssl(const std::vector<unsigned char> &data, std::size_t piece, long long total)
{
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    if (!context || EVP_DigestInit_ex(context, EVP_md5(), nullptr) != 1) {
        std::fprintf(stderr, "OpenSSL offers no MD5 here\n");
        std::exit(2);
    }
    for (long long done = 0; done < total; done += static_cast<long long>(data.size())) {
        for (std::size_t at = 0; at < data.size(); at += piece)
            EVP_DigestUpdate(context, data.data() + at, std::min(piece, data.size() - at));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    EVP_MD_CTX_free(context);
    return QByteArray(reinterpret_cast<const char *>(digest), int(length));
}

QByteArray qt(const std::vector<unsigned char> &data, std::size_t piece, long long total)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (long long done = 0; done < total; done += static_cast<long long>(data.size())) {
        for (std::size_t at = 0; at < data.size(); at += piece)
            hash.addData(QByteArrayView(reinterpret_cast<const char *>(data.data()) + at,
                                        qsizetype(std::min(piece, data.size() - at))));
    }
    return hash.result();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    const long long mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (mib <= 0 || mib % 4 != 0 || runs <= 0) {
        std::fprintf(stderr, "usage: %s [MiB per run, a multiple of 4] [runs]\n", argv[0]);
        return 2;
    }
    const long long total = mib << 20;

    // 4 MiB of data that no implementation can shortcut, hashed over and over.
    std::vector<unsigned char> data(4 << 20);
    unsigned int state = 12345;
    for (unsigned char &byte : data) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(state >> 16);
    }

    const struct
    {
        const char *name;
        Hasher hasher;
    } implementations[] = { { "ours (Md5)", ours }, { "OpenSSL EVP", openssl }, { "Qt", qt } };
    constexpr int count = 3;

    std::printf("MD5 of %lld MiB per run, %d runs, MB/s (10^6 bytes per second)\n", mib, runs);
    std::printf("%-14s %-12s %8s %8s\n", "piece", "", "best", "median");
    for (const std::size_t piece : { std::size_t(32768), std::size_t(65536), std::size_t(4 << 20) }) {
        std::vector<double> rates[count];
        QByteArray reference;
        for (int run = 0; run < runs; ++run) {
            for (int k = 0; k < count; ++k) {
                const int i = (run + k) % count;
                const auto start = Clock::now();
                const QByteArray digest = implementations[i].hasher(data, piece, total);
                const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
                if (reference.isEmpty())
                    reference = digest;
                if (digest != reference) {
                    std::fprintf(stderr, "%s gives a different digest\n", implementations[i].name);
                    return 1;
                }
                rates[i].push_back(double(total) / 1e6 / seconds);
            }
        }
        double medians[count];
        for (int i = 0; i < count; ++i) {
            medians[i] = median(rates[i]);
            std::printf("%-14s %-12s %8.0f %8.0f\n", (std::to_string(piece / 1024) + " KiB").c_str(),
                        implementations[i].name, *std::max_element(rates[i].begin(), rates[i].end()), medians[i]);
        }
        std::printf("%-14s ratio of medians ours/OpenSSL %.3f, ours/Qt %.3f\n", "", medians[0] / medians[1],
                    medians[0] / medians[2]);
    }
    return 0;
}
