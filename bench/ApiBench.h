#pragma once

// What the API client benchmarks share: scripted loopback hosts on a thread of their
// own, and the session token from a fixed value or from the keyring.

#include "account/KeychainStore.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QUuid>

#include <memory>

#include "support/Await.h"
#include "support/FakeService.h"
#include "support/FixedTokenProvider.h"

namespace kovra::bench {

inline const QString kBenchToken = QStringLiteral("bench-token");

// The fake hosts on a thread of their own, so their work does not queue behind the
// clients' on the main thread.
class Hosts {
public:
    explicit Hosts(int count = 3)
    {
        m_thread.start();
        m_context.moveToThread(&m_thread);
        QMetaObject::invokeMethod(&m_context, [this, count] { m_fake = new test::FakeService(count); },
                                  Qt::BlockingQueuedConnection);
        m_urls = m_fake->baseURLs();
    }
    ~Hosts()
    {
        QMetaObject::invokeMethod(&m_context, [this] { delete m_fake; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    Hosts(const Hosts &) = delete;
    Hosts &operator=(const Hosts &) = delete;

    QList<QUrl> urls() const { return m_urls; }
    // Forgets what was scripted before; host i answers GET `path` with replies[i].
    void script(const QString &path, const QList<test::FakeReply> &replies)
    {
        QMetaObject::invokeMethod(
            &m_context,
            [this, path, replies] {
                m_fake->reset();
                for (int host = 0; host < replies.size(); ++host)
                    m_fake->script(host, "GET", path, {replies.at(host)});
            },
            Qt::BlockingQueuedConnection);
    }

private:
    QThread m_thread;
    QObject m_context;
    test::FakeService *m_fake = nullptr;
    QList<QUrl> m_urls;
};

// The token kBenchToken, fixed in memory or saved under a keychain service of the
// benchmark's own (a keyring must answer), removed again when this goes.
class BenchToken {
public:
    explicit BenchToken(bool keychain)
    {
        if (!keychain) {
            m_provider = std::make_shared<test::FixedTokenProvider>(kBenchToken);
            return;
        }
        m_service = QStringLiteral("kovra-bench-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        // Written past the stores, so the first read goes to the keyring as at start-up.
        test::await(Keychain(m_service).write(QStringLiteral("jwt"), kBenchToken.toUtf8()));
        m_provider = std::make_shared<KeychainStore>(m_service);
    }
    ~BenchToken()
    {
        if (!m_service.isEmpty())
            test::await(KeychainStore(m_service).deleteJWT());
    }
    BenchToken(const BenchToken &) = delete;
    BenchToken &operator=(const BenchToken &) = delete;

    // As the start-up builds it: a store of its own over the service.
    std::shared_ptr<JWTProvider> provider() const { return m_provider; }

private:
    QString m_service;
    std::shared_ptr<JWTProvider> m_provider;
};

} // namespace kovra::bench
