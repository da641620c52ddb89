#include "platform/UpdateCheck.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace cantivo {

struct UpdateCheck::Impl {
    QNetworkAccessManager network;
    QPointer<QNetworkReply> reply;
    std::unique_ptr<QTimer> timer;
    std::unique_ptr<QTimer> immediate;
    // Raised by every Start and Cancel, so the answer of a dropped check is never delivered.
    unsigned generation = 0;

    void Drop()
    {
        ++generation;
        // Deferred: Drop may run inside one of these timers' own signals.
        if (timer)
            timer.release()->deleteLater();
        if (immediate)
            immediate.release()->deleteLater();
        if (reply) {
            QNetworkReply* old = reply;
            reply = nullptr;
            old->disconnect();
            old->abort();
            old->deleteLater();
        }
    }
};

UpdateCheck::UpdateCheck() : impl_(std::make_unique<Impl>()) {}

UpdateCheck::~UpdateCheck()
{
    impl_->Drop();
}

void UpdateCheck::Start(const std::string& url, Done done, int timeoutMs, int32_t ownNumber)
{
    impl_->Drop();
    const unsigned generation = impl_->generation;
    Impl* impl = impl_.get();

    const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    if (url.empty() || !address.isValid() || (address.scheme() != "http" && address.scheme() != "https")) {
        UpdateResult result;
        result.detail = url.empty() ? "no update address is set" : "the update address \"" + url + "\" is not usable";
        impl->immediate = std::make_unique<QTimer>();
        impl->immediate->setSingleShot(true);
        QObject::connect(impl->immediate.get(), &QTimer::timeout, [impl, generation, done, result] {
            if (impl->generation != generation)
                return;
            impl->immediate.release()->deleteLater();
            done(result);
        });
        impl->immediate->start(0);
        return;
    }

    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(3);
    QNetworkReply* reply = impl->network.get(request);
    impl->reply = reply;

    auto finish = [impl, generation, done, ownNumber](UpdateResult result, bool readBody) {
        if (impl->generation != generation || !impl->reply)
            return;
        QNetworkReply* finished = impl->reply;
        if (readBody) {
            const QByteArray body = finished->read(static_cast<qint64>(MaxVersionReplyBytes));
            result = ReadVersionReply(std::string_view(body.constData(), static_cast<size_t>(body.size())), ownNumber);
        }
        impl->Drop();
        done(result);
    };

    // A reply far longer than any version text is cut: the first bytes are all that is read.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, finish] {
        if (reply->bytesAvailable() >= static_cast<qint64>(MaxVersionReplyBytes) &&
            reply->error() == QNetworkReply::NoError)
            finish({}, true);
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, finish] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError || (status != 0 && status != 200)) {
            UpdateResult failed;
            failed.detail = status >= 400 ? "the server answered HTTP " + std::to_string(status)
                                          : reply->errorString().toStdString();
            finish(failed, false);
            return;
        }
        finish({}, true);
    });

    impl->timer = std::make_unique<QTimer>();
    impl->timer->setSingleShot(true);
    QObject::connect(impl->timer.get(), &QTimer::timeout, [finish, timeoutMs] {
        UpdateResult late;
        late.detail = "no answer within " + std::to_string(timeoutMs) + " ms";
        finish(late, false);
    });
    impl->timer->start(timeoutMs);
}

bool UpdateCheck::Running() const
{
    return impl_->reply || impl_->immediate;
}

void UpdateCheck::Cancel()
{
    impl_->Drop();
}

} // namespace cantivo
