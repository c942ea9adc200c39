#include "link/device_io.h"

#include <bit>
#include <cstring>

#include "link/frame.h"
#include "model/parameter.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace {

constexpr const char* kTimeoutText = "Таймаут при передаче данных (нет связи)";
constexpr const char* kBadSettingsText = "Неверны настройки порта.";
constexpr const char* kLostStartText = "Потеря начала посылки.";
constexpr const char* kChecksumText = "Ошибка в контрольной сумме ответа";
constexpr const char* kForeignText =
    "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\nВозможно в сети RS-485 "
    "присутствует прибор со включенной функцией \"Мастер\"";
constexpr const char* kUndecodableText = "Не могу раскодировать ответ";
constexpr const char* kMissingPartnerText = "Данный параметр в приборе не существует!";

constexpr int kNoAnswerSends = 2;
constexpr int kLineErrorSends = 9;
constexpr int kLostStartSends = 8;
constexpr int kAttempts = 3;

struct ErrorText {
    std::uint8_t code;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {0x00, "Безошибочный прием кадра"},
    {0x02, "Задано положение точки, превышающее 3"},
    {0x03, "Попытка модификации ROM-параметра"},
    {0x04, "Не целое число при записи индекса строки или времени"},
    {0x05, "Неверно задано положение точки (при фиксированной точке)"},
    {0x06, "Значение мантиссы превышает ограничения дескриптора"},
    {0x07,
     "Несанкционированная попытка редактирования Атрибутов (попытка изменить атрибут "
     "пользователем, когда он не является хозяином параметра)"},
    {0x08, "У запрошенного параметра отсутствуют признаки"},
    {0x21, "Аппаратная ошибка кадрирования"},
    {0x22, "Ошибка в 8-ом бите посылки"},
    {0x23, "Ошибка в 9-ом бите посылки"},
    {0x24, "Ошибка приема стоп-байта (стоп пришел не вовремя)"},
    {0x25, "Ошибка переполнения буфера"},
    {0x26, "Принят недопустимый символ"},
    {0x27, "Неверная контрольная сумма кадра"},
    {0x28, "Не найден дескриптор"},
    {0x29,
     "Не найдена сетевая функция, хотя дескриптор найден!!!\t\t\t\t\t\t\t  В нормальном "
     "приборе эта ошибка встречаться НЕ ДОЛЖНА!!!"},
    {0x30, "Мантисса двоично-десятичного параметра содержит ошибку"},
    {0x31, "Размер поля данных не соответствует ожидаемому"},
    {0x32, "Значение бита запроса не соответствует ожидаемому"},
    {0x33, "Редактирование параметра запрещено атрибутами доступа"},
    {0x34, "Недопустимо большой линейный индекс"},
    {0x35, "Индекс параметра превышает ограничитель индекса"},
    {0x36, "Индекс параметра превышает ограничитель индекса"},
    {0x37, "Данный код не используется"},
    {0x38, "Запрещающий групповой атрибут находится на уровне 0 (в корне)"},
    {0x39, "Запрещающий групповой атрибут находится на уровне 1"},
    {0x3A, "Запрещающий групповой атрибут находится на уровне 2"},
    {0x3B, "Запрещающий групповой атрибут находится на уровне 3"},
    {0x3C, "Запрещающий групповой атрибут находится на уровне 4"},
    {0x3D, "Запрещающий групповой атрибут находится на уровне 5"},
    {0x3E, "Запрещающий групповой атрибут находится на уровне 6"},
    {0x3F, "Запрещающий групповой атрибут находится на уровне 7"},
    {0x41, "выполняется другая задача (Сегмент COMMON занят)"},
    {0x42, "задача еще не запущена(Сегмент COMMON свободен)"},
    {0x43, "запрошенная задача уже выполняется"},
    {0x44, "Программе неизвестна запрошенная функция"},
    {0x45, "В программе стоит заглушка функции WhatCOMState()"},
    {0x46, "В программе стоит заглушка функции RunCOMTask()"},
    {0x47,
     "Недопустимое сочетание значений параметров (Изменение параметра было запрещено "
     "функцией Valid)"},
    {0x48, "Ошибка при чтении ЕЕПРОМ"},
    {0x49, "Нарушена упорядоченность узлов X по возрастанию"},
    {0x4A, "Попытка записи X при ненулевом числе узлов графика"},
    {0x4B, "Ошибка выполнения функции PrevWriteActions()"},
};

void SetNoAnswer() {
    if (!(Outcome::Flags() & Outcome::kBadAnswers)) Outcome::Set(Outcome::kNoAnswer);
}

void SetBadAnswers() {
    Outcome::Clear(Outcome::kNoAnswer);
    Outcome::Set(Outcome::kBadAnswers);
}

// A data byte as the device's code page shows it, so that the log stays
// UTF-8; "." for control codes and the one code 1251 leaves empty.
std::string Printable(std::uint8_t c) {
    if (c < 32 || c == 0x7F || c == 0x98) return ".";
    std::string out;
    AppendCp1251Char(out, c);
    return out;
}

float BigEndianFloat(const std::uint8_t* d) {
    std::uint32_t u = (std::uint32_t{d[0]} << 24) | (std::uint32_t{d[1]} << 16) |
                      (std::uint32_t{d[2]} << 8) | d[3];
    return std::bit_cast<float>(u);
}

}  // namespace

std::string protocol_error_text(std::uint8_t code) {
    for (const ErrorText& e : kErrorTexts)
        if (e.code == code) return e.text;
    return {};
}

DeviceIO::DeviceIO() = default;
DeviceIO::~DeviceIO() = default;

namespace {

// The linear index an answer carries back in its last two data bytes.
std::optional<std::uint16_t> AnswerIndex(const ParsedAnswer& a) {
    if (a.dataLength < 2) return std::nullopt;
    const std::uint8_t* d = a.Data() + a.dataLength - 2;
    return static_cast<std::uint16_t>((d[0] << 8) | d[1]);
}

}  // namespace

bool DeviceIO::RequestKey::Matches(std::uint16_t answerHash,
                                   std::optional<std::uint16_t> answerIndex) const {
    return hash == answerHash && (!index || answerIndex == index);
}

bool DeviceIO::AcceptAnswer(std::string_view line, std::string_view request, bool read,
                            const RequestKey& current) {
    // Counted by the port with what it drains.
    auto drop = [] { return false; };
    // A read request echoed back (a converter or a line that echoes): a real
    // answer to a read carries data the request has not. A write may be
    // answered with its own bytes, so its echo cannot be told apart.
    if (read && line == request) return drop();
    ParsedAnswer a;
    // A damaged frame is reported as such by the caller.
    if (parse_answer(line, a) != AnswerStatus::Ok) return true;
    // An error answer names its error; one that says "no error" can only be
    // the answer to a read of "n.Err" itself.
    if (a.nameHash == kHashNErr && current.hash != kHashNErr)
        return a.dataLength > 0 && a.Data()[0] == 0 ? drop() : true;
    const std::optional<std::uint16_t> index = AnswerIndex(a);
    if (current.Matches(a.nameHash, index)) {
        // Answers are not required to carry the address asked; but one that
        // carries the address of another request for this name answers that.
        const int address =
            port_.addressLength == 11 ? (a.bytes[0] << 3) | (a.bytes[1] >> 5) : a.bytes[0];
        if (address == current.address || current.address == 255) return true;
        for (const RequestKey& k : recent_)
            if (k.address == address && k.Matches(a.nameHash, index)) return drop();
        return true;
    }
    // Our name with another index can only answer another request.
    if (a.nameHash == current.hash) return drop();
    for (const RequestKey& k : recent_)
        if (k.address >= 0 && k.Matches(a.nameHash, index)) return drop();
    // Nobody here asked for it: another master on the line, reported as such.
    return true;
}

DeviceIO::Transaction DeviceIO::transact(const std::uint8_t* data, std::size_t count, bool read,
                                         std::uint16_t nameHash, int addressOffset,
                                         std::optional<std::uint16_t> linearIndex) {
    Transaction t;
    LineFrame request;
    if (!build_request(port_.deviceAddress, addressOffset, port_.addressLength, read, nameHash,
                       data, count, request)) {
        t.error = kBadSettingsText;
        return t;
    }
    const RequestKey key{
        addressOffset == kFixedAddressOffset ? 255 : port_.deviceAddress + addressOffset, nameHash,
        linearIndex};
    char answer[kAnswerBufferSize];
    std::size_t received = 0;
    {
        std::lock_guard<std::mutex> lock(exchangeLock_);
        recent_[recentNext_] = key;
        recentNext_ = (recentNext_ + 1) % recent_.size();
        const AnswerFilter accept = [&](std::string_view line) {
            return AcceptAnswer(line, request.View(), read, key);
        };
        int noAnswer = 0, lineErrors = 0, lostStart = 0;
        for (;;) {
            int r = port_.Exchange(request.chars, request.length, answer, received, accept);
            // The device does not acknowledge "APLY": one send, whatever comes back.
            if (nameHash == kHashAply) {
                if (Outcome::Flags() & Outcome::kNoAnswer) SetBadAnswers();
                t.ok = true;
                return t;
            }
            if (r == ExchangeResult::kTimeout) {
                if (++noAnswer >= kNoAnswerSends) {
                    SetNoAnswer();
                    t.error = kTimeoutText;
                    return t;
                }
                continue;
            }
            if (r == ExchangeResult::kLineError) {
                if (++lineErrors >= kLineErrorSends) {
                    SetBadAnswers();
                    t.error = kBadSettingsText;
                    return t;
                }
                continue;
            }
            if (received > 1 && answer[0] == kFrameStart) break;
            if (++lostStart >= kLostStartSends) {
                SetBadAnswers();
                t.error = kLostStartText;
                return t;
            }
        }
        if (Outcome::Flags() & Outcome::kNoAnswer) SetBadAnswers();
    }
    ParsedAnswer parsed;
    if (parse_answer(std::string_view(answer, received), parsed) != AnswerStatus::Ok) {
        t.error = kChecksumText;
        return t;
    }
    t.count = std::min(parsed.dataLength, sizeof t.data);
    std::memcpy(t.data, parsed.Data(), t.count);
    if (parsed.nameHash == nameHash) {
        t.ok = true;
        return t;
    }
    if (parsed.nameHash == kHashNErr) {
        if (t.count > 0) t.error = protocol_error_text(t.data[0]);
        return t;
    }
    t.error = kForeignText;
    return t;
}

int DeviceIO::transact_logged(const std::uint8_t* data, std::size_t count, bool read,
                              std::uint16_t nameHash, int addressOffset, Transaction& answer,
                              ExchangeLog* log, std::optional<std::uint16_t> linearIndex) {
    answer = transact(data, count, read, nameHash, addressOffset, linearIndex);
    if (!answer.ok)
        return answer.count > 0 && answer.data[0] == 0x33 ? ExchangeCode::kAccessDenied
                                                          : ExchangeCode::kFailed;
    if (log) {
        for (std::size_t i = 0; i < answer.count; ++i)
            log->push_back(Format("<< Ответ: #%2i : %03i = 0x%02hx (%s)", static_cast<int>(i),
                                  answer.data[i], static_cast<unsigned short>(answer.data[i]),
                                  Printable(answer.data[i]).c_str()));
        log->push_back(Format("Инф-ная часть квитанции ответа имеет размер %1i байт.",
                              static_cast<int>(answer.count)));
    }
    return ExchangeCode::kOk;
}

int DeviceIO::exchange_parameter(Direction direction, Parameter& p, ExchangeLog* log) {
    switch (p.bindingKind) {
        case 1:
        case 2:
        case 8:
            return PackedHalf(direction, p, log);
        case 5:
            return ScaledReading(direction, p, log);
        case 6:
            return FirstOfTwo(direction, p, log);
        default:
            return PlainExchange(direction, p, log);
    }
}

namespace {

int MissingPartner(ExchangeLog* log) {
    if (log) log->push_back(kMissingPartnerText);
    return ExchangeCode::kFailed;
}

}  // namespace

int DeviceIO::PackedHalf(Direction direction, Parameter& p, ExchangeLog* log) {
    if (p.linked.empty() || !p.linked.front()) return MissingPartner(log);
    Parameter& packed = *p.linked.front();
    int result = ExchangeCode::kOk;
    // Both halves of a pair share one exchange of the packed word per operation.
    if (packed.operationStamp != stamp_) {
        packed.operationStamp = stamp_;
        result = exchange_parameter(direction, packed, log);
    }
    std::int64_t word = 0;
    bool number = ParseLeadingInt(packed.value, word) > 0 && word >= 0 && word <= 0xFFFFFFFFLL;
    char axis = p.name.empty() ? '\0' : static_cast<char>(p.name[0] | 0x20);
    if (!number || (axis != 'x' && axis != 'y')) {
        p.value = Parameter::kNoData;
    } else {
        auto half = static_cast<std::uint32_t>(axis == 'y' ? word >> 16 : word & 0xFFFF);
        double v = (half & 0x7FFF) / 10.0;
        p.value = Format("%.1f", (half & 0x8000) ? -v : v);
    }
    p.needUpdate = false;
    return result;
}

int DeviceIO::ScaledReading(Direction direction, Parameter& p, ExchangeLog* log) {
    if (p.linked.size() < 3) return MissingPartner(log);
    if (direction == Direction::Write) return ExchangeCode::kOk;
    p.value.clear();
    Parameter *reading = nullptr, *slope = nullptr, *shift = nullptr;
    for (Parameter* q : p.linked) {
        if (!q) continue;
        if (EqualsNoCase(q->name, "read"))
            reading = q;
        else if (EqualsNoCase(q->name, "in.sl"))
            slope = q;
        else if (EqualsNoCase(q->name, "in.sh"))
            shift = q;
        // The polling refreshes a polled reading by itself.
        if (q == reading && q->polling) continue;
        int r = exchange_parameter(direction, *q, log);
        if (r != ExchangeCode::kOk) {
            p.error = q->error;
            p.value.clear();
            return r;
        }
    }
    if (!reading || reading->rawLength < 4) {
        p.value = Parameter::kNoData;
        return ExchangeCode::kOk;
    }
    if (reading->rawData[0] > 239) {
        p.value = reading->value;  // a status code, shown as its text
        return ExchangeCode::kOk;
    }
    double x = BigEndianFloat(reading->rawData.data());
    double k = slope && slope->rawLength >= 4 ? BigEndianFloat(slope->rawData.data()) : 1.0;
    double b = shift && shift->rawLength >= 4 ? BigEndianFloat(shift->rawData.data()) : 0.0;
    p.value = Format("%.3f", x * k + b);
    return ExchangeCode::kOk;
}

int DeviceIO::FirstOfTwo(Direction direction, Parameter& p, ExchangeLog* log) {
    if (p.linked.size() < 2 || !p.linked[0] || !p.linked[1]) return MissingPartner(log);
    for (Parameter* q : p.linked) {
        if (!q || q->polling) continue;
        int r = exchange_parameter(direction, *q, log);
        if (r != ExchangeCode::kOk) return r;
    }
    const Parameter& source = *p.linked[0];
    const Parameter& selector = *p.linked[1];
    p.rawLength = source.rawLength;
    p.rawData = source.rawData;
    if (selector.value == selector.IndexToLabel(1) && p.rawLength >= 4) ++p.rawData[3];
    p.ConvertFromData(p.rawData.data(), p.rawLength, p.hasLinearIndex);
    return ExchangeCode::kOk;
}

int DeviceIO::WriteAccessCode() {
    Parameter pass;
    pass.name = "pass";
    pass.type = "DEC dot";
    pass.value = kAccessCode;
    return PlainExchange(Direction::Write, pass, nullptr);
}

bool DeviceIO::PauseBetweenAttempts() {
    int ms = GetLinkPauses().betweenAttemptsMs;
    if (ms <= 0 || port_.Stopping()) return !port_.Stopping();
    Event* abort = Sio::ThreadAbort::Current();
    Event& shutdown = port_.ShutdownEvent();
    return !WaitAny({&shutdown, abort ? abort : &shutdown}, std::chrono::milliseconds(ms));
}

int DeviceIO::PlainExchange(Direction direction, Parameter& p, ExchangeLog* log) {
    if (Startup().noPort) return ExchangeCode::kOk;
    // Held open for the whole exchange, retries included, whatever other
    // threads open or close meanwhile.
    Sio::Hold hold(port_);
    const bool write = direction == Direction::Write;
    int result = ExchangeCode::kOk;
    for (int attempt = 1;; ++attempt) {
        p.error.clear();
        // A port that cannot be opened is no connection, like a device that
        // is silent, and gets the same attempts: an adapter plugged back in
        // meanwhile carries on.
        if (!hold.Ensure()) {
            SetNoAnswer();
            p.error = kTimeoutText;
            result = ExchangeCode::kFailed;
            if (attempt < kAttempts && PauseBetweenAttempts()) continue;
            break;
        }
        std::uint8_t data[MyConverter::kMaxRawData] = {};
        int count = 0;
        if (write) {
            if (p.bindingKind == 7) WriteAccessCode();
            std::string reason;
            int converted = p.ConvertToData(p.value, data, count, false, &reason);
            // A value without a wire form is never sent: the device would take
            // whatever the empty or partial data mean to it.
            if (converted == -1) {
                if (log)
                    log->push_back("Метод формирования посылки записи для команды '" + p.name +
                                   "' не определен.");
                if (!reason.empty()) p.error = reason;
                result = ExchangeCode::kNoWriteMethod;
                break;
            }
            if (converted == 0) {
                if (log) log->push_back("Неверное значение (неудается закодировать данные)");
                result = ExchangeCode::kNotEncodable;
                break;
            }
            if (converted != 1 && log)
                log->push_back("Предупреждение: странный ответ от ConvertToData(...)");
        }
        if (p.hasLinearIndex) {
            data[count++] = static_cast<std::uint8_t>((p.linearIndex >> 8) & 0xFF);
            data[count++] = static_cast<std::uint8_t>(p.linearIndex & 0xFF);
        }
        if (count > static_cast<int>(kMaxFrameData)) {
            if (log) log->push_back("Неверное значение (неудается закодировать данные)");
            result = ExchangeCode::kNotEncodable;
            break;
        }
        if (log) {
            log->push_back(Format("Размер инф-ой части посылки %i байт.", count));
            for (int i = 0; i < count; ++i)
                log->push_back(Format(">> Посылка: #%2i : %03i = 0x%02X (%s)", i, data[i], data[i],
                                      Printable(data[i]).c_str()));
        }
        Transaction answer;
        result = transact_logged(
            data, static_cast<std::size_t>(count), !write, p.Hash(), p.deviceAddress, answer, log,
            p.hasLinearIndex
                ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(p.linearIndex))
                : std::nullopt);
        if (!answer.ok) p.error = answer.error;
        p.rawLength = static_cast<std::uint8_t>(answer.count);
        std::memcpy(p.rawData.data(), answer.data, answer.count);
        if (result == ExchangeCode::kOk) {
            if (p.ConvertFromData(answer.data, static_cast<int>(answer.count), p.hasLinearIndex) ==
                0) {
                p.error = kUndecodableText;
                p.value.clear();
                result = ExchangeCode::kUndecodable;
            } else {
                p.needUpdate = false;
                break;
            }
        }
        if (write && p.bindingKind == 10) {
            p.error.clear();
            p.needUpdate = false;
            result = ExchangeCode::kOk;
            break;
        }
        if (p.error == kTimeoutText && attempt < kAttempts) {
            p.error.clear();
            if (!PauseBetweenAttempts()) {
                p.error = kTimeoutText;
                break;
            }
            continue;
        }
        break;
    }
    return result;
}

void DeviceIO::load_port_settings() {
    Elements::NetRS485prg& s = settings_;
    std::string portValue = s.GetValue("Port");
    if (!EqualsNoCase(port_.portName, portValue)) port_.portName = portValue;
    auto number = [&](const char* name, int fallback) {
        std::int64_t v = 0;
        return ParseLeadingInt(s.GetValue(name), v) > 0 ? static_cast<int>(v) : fallback;
    };
    port_.speed = number("bPS", port_.speed);
    port_.deviceAddress = number("Addr", port_.deviceAddress);
    port_.addressLength = number("A.Len", port_.addressLength);
    port_.byteSize = number("LEn", port_.byteSize);
    int stop = Elements::SettingIndex(s, "Sbit");
    if (stop >= 0) port_.stopBitsCode = stop;
    constexpr int kParityCodes[] = {1, 4, 5, 2, 3};  // Even, Odd, Space, Mark, No Parity
    int parity = Elements::SettingIndex(s, "PrtY");
    if (parity >= 0 && parity < 5) port_.parityCode = kParityCodes[parity];
    s.ClearChanges();
}

int DeviceIO::reopen_port() {
    if (port_.IsOpen() && port_.Purge() == 0) port_.Close();
    load_port_settings();
    if (Startup().silent || Startup().noPort) return -1;
    int r = port_.Open();
    if (r == 0) {
        Outcome::Clear(Outcome::kPortFailed);
        return 0;
    }
    Outcome::Set(Outcome::kPortFailed);
    if (!Startup().driven)
        ShowMessageWithDetails("Не удается открыть порт " + port_.portName +
                                   ". Связь с сетью отсутствует. Проверьте сетевые параметры",
                               "Ошибка драйвера последовательного порта", MessageIcon::None,
                               MessageButtons::Ok, port_.LastFailure().detail);
    return r;
}
