// A small instrument for the VXI-11 tests: fixed replies and one command per
// Response action, and a record of every program message it received.
#pragma once

#include "sim/endpoint.h"

#include <QHash>
#include <QList>
#include <QMutex>

#include <cstring>

class ScriptEndpoint : public benchsim::Endpoint {
public:
    explicit ScriptEndpoint(const QByteArray &identity) : identity_(identity) {}

    QString name() const override { return QString::fromLatin1(identity_); }

    benchsim::Response handle(const QByteArray &message) override
    {
        {
            QMutexLocker lock(&mutex_);
            received_.append(message);
        }
        using A = benchsim::Response::Action;
        benchsim::Response r;
        if (message == "*IDN?") {
            r = reply(identity_ + "\n");
        } else if (message == "*OPC?" || message.endsWith(";*OPC?")) {
            r = reply("1\n");
        } else if (message.startsWith("BLOCK? ")) {
            // "#<n><count><count bytes>\n", bytes cycling through 0..255 (LFs included)
            const int count = message.mid(7).toInt();
            QByteArray data(count, Qt::Uninitialized);
            for (int i = 0; i < count; ++i)
                data[i] = char(i & 0xff);
            const QByteArray len = QByteArray::number(count);
            r = reply("#" + QByteArray::number(len.size()) + len + data + "\n");
        } else if (message.startsWith("FLOATS? ")) {
            r = reply(floatBlock(message.mid(8).toInt()));
        } else if (message.startsWith("FIXED? ")) {
            r = reply(QByteArray(message.mid(7).toInt(), 'x')); // exactly this many bytes
        } else if (message.startsWith("LATE? ")) {
            r = reply("late\n");
            r.delayMs = message.mid(6).toInt();
        } else if (message == "IOERR?") {
            r.action = A::DeviceError;
            r.deviceError = 17;
        } else if (message == "TMOERR?") {
            r.action = A::DeviceError;
            r.deviceError = 15;
        } else if (message.startsWith("DIE? ")) {
            r.action = A::Close;
            r.delayMs = message.mid(5).toInt();
        }
        // Anything else (commands, "SILENT?") has no response.
        return r;
    }

    QList<QByteArray> received() const
    {
        QMutexLocker lock(&mutex_);
        return received_;
    }

private:
    // n little-endian float32 samples of value i * 0.5 as a definite-length
    // block; made once per n so timings measure the transport, not this.
    QByteArray floatBlock(int n)
    {
        QMutexLocker lock(&mutex_);
        QByteArray &block = floatBlocks_[n];
        if (block.isEmpty()) {
            QByteArray data(n * 4, Qt::Uninitialized);
            for (int i = 0; i < n; ++i) {
                const float v = float(i) * 0.5f;
                quint32 bits;
                std::memcpy(&bits, &v, 4);
                for (int b = 0; b < 4; ++b)
                    data[4 * i + b] = char((bits >> (8 * b)) & 0xff);
            }
            const QByteArray len = QByteArray::number(data.size());
            block = "#" + QByteArray::number(len.size()) + len + data + "\n";
        }
        return block;
    }

    static benchsim::Response reply(const QByteArray &bytes)
    {
        benchsim::Response r;
        r.action = benchsim::Response::Action::Reply;
        r.bytes = bytes;
        return r;
    }

    QByteArray identity_;
    mutable QMutex mutex_;
    QList<QByteArray> received_;
    QHash<int, QByteArray> floatBlocks_;
};
