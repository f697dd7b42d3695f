#include "discord/ipc_frame.h"

#include <QJsonDocument>
#include <QTest>

using DiscordIpc::FrameReader;
using DiscordIpc::Opcode;

class DiscordIpcFrameTest : public QObject
{
    Q_OBJECT

private slots:
    void framesAreCutFromAnyChunking()
    {
        const QByteArray one = DiscordIpc::encodeFrame(Opcode::Frame, QJsonObject{{"cmd", "A"}});
        const QByteArray two = DiscordIpc::encodeFrame(Opcode::Ping, QByteArray("{\"n\":2}"));
        QCOMPARE(one.left(8), QByteArray::fromHex("01000000") + QByteArray::fromHex("0b000000"));
        const QByteArray stream = one + two;

        // Byte by byte and all at once give the same two frames.
        for (const int step : {1, 3, static_cast<int>(stream.size())}) {
            FrameReader reader;
            QList<DiscordIpc::Frame> frames;
            for (qsizetype at = 0; at < stream.size(); at += step) {
                const QByteArray piece = stream.mid(at, step);
                reader.append(piece.constData(), static_cast<std::size_t>(piece.size()));
                DiscordIpc::Frame frame;
                FrameReader::Result result;
                while ((result = reader.next(frame)) == FrameReader::Result::Frame)
                    frames << frame;
                QCOMPARE(result, FrameReader::Result::NeedMore);
            }
            QCOMPARE(frames.size(), 2);
            QCOMPARE(frames[0].opcode, Opcode::Frame);
            QCOMPARE(frames[0].body.value("cmd").toString(), QStringLiteral("A"));
            QCOMPARE(frames[1].opcode, Opcode::Ping);
            QCOMPARE(frames[1].raw, QByteArray("{\"n\":2}"));
            QCOMPARE(reader.buffered(), 0u);
        }
    }

    void theLargestAllowedBodyPassesAndOneMoreByteFails()
    {
        QByteArray body = "{\"pad\":\"" + QByteArray(static_cast<qsizetype>(DiscordIpc::kMaxBodySize) - 10, 'x') + "\"}";
        QCOMPARE(static_cast<std::size_t>(body.size()), DiscordIpc::kMaxBodySize);
        FrameReader reader;
        const QByteArray largest = DiscordIpc::encodeFrame(Opcode::Frame, body);
        reader.append(largest.constData(), static_cast<std::size_t>(largest.size()));
        DiscordIpc::Frame frame;
        QCOMPARE(reader.next(frame), FrameReader::Result::Frame);

        // Refused from the header alone: the body is never waited for.
        const QByteArray tooLarge = DiscordIpc::encodeFrame(Opcode::Frame, body + ' ').left(8);
        reader.append(tooLarge.constData(), 8);
        QCOMPARE(reader.next(frame), FrameReader::Result::Error);
        QVERIFY(reader.error().contains(QStringLiteral("exceeds")));
        // An error sticks until the reader is reset for a new connection.
        QCOMPARE(reader.next(frame), FrameReader::Result::Error);
        reader.reset();
        QCOMPARE(reader.next(frame), FrameReader::Result::NeedMore);
    }
};

QTEST_GUILESS_MAIN(DiscordIpcFrameTest)
#include "discord_ipc_frame_test.moc"
