#include "discord/ipc_frame.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QtEndian>

namespace DiscordIpc {

QByteArray encodeFrame(Opcode opcode, const QByteArray &body)
{
    QByteArray frame(static_cast<qsizetype>(kHeaderSize), Qt::Uninitialized);
    qToLittleEndian<uint32_t>(static_cast<uint32_t>(opcode), frame.data());
    qToLittleEndian<uint32_t>(static_cast<uint32_t>(body.size()), frame.data() + 4);
    frame.append(body);
    return frame;
}

QByteArray encodeFrame(Opcode opcode, const QJsonObject &body)
{
    return encodeFrame(opcode, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

void FrameReader::append(const char *data, std::size_t size)
{
    m_buffer.append(data, static_cast<qsizetype>(size));
}

void FrameReader::reset()
{
    m_buffer.clear();
    m_error.clear();
}

FrameReader::Result FrameReader::next(Frame &frame)
{
    if (!m_error.isEmpty())
        return Result::Error;
    if (m_buffer.size() < static_cast<qsizetype>(kHeaderSize))
        return Result::NeedMore;
    const uint32_t opcode = qFromLittleEndian<uint32_t>(m_buffer.constData());
    const uint32_t length = qFromLittleEndian<uint32_t>(m_buffer.constData() + 4);
    if (opcode > static_cast<uint32_t>(Opcode::Pong)) {
        m_error = QStringLiteral("unknown opcode %1").arg(opcode);
        return Result::Error;
    }
    if (length > kMaxBodySize) {
        m_error = QStringLiteral("frame of %1 bytes exceeds the limit").arg(length);
        return Result::Error;
    }
    const qsizetype total = static_cast<qsizetype>(kHeaderSize + length);
    if (m_buffer.size() < total)
        return Result::NeedMore;

    QByteArray raw = m_buffer.mid(static_cast<qsizetype>(kHeaderSize), length);
    m_buffer.remove(0, total);
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(raw, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        m_error = QStringLiteral("frame body is not a JSON object");
        return Result::Error;
    }
    frame.opcode = static_cast<Opcode>(opcode);
    frame.raw = std::move(raw);
    frame.body = document.object();
    return Result::Frame;
}

} // namespace DiscordIpc
