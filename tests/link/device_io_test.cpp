#include "link/device_io.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "link/frame.h"
#include "model/parameter.h"
#include "platform/app_state.h"
#include "support/message_recorder.h"
#include "support/scripted_peer.h"

namespace {

constexpr const char* kTimeout = "Таймаут при передаче данных (нет связи)";

class DeviceIOTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkPauses({0, 0});
        Outcome::Reset();
    }
    void TearDown() override { SetLinkPauses({-1, -1}); }

    // A link to the peer at 115200 bit/s (200 ms answer wait).
    void Connect(DeviceIO& io, ScriptedPeer& peer) {
        io.Port().portName = peer.Path();
        io.Port().speed = 115200;
        ASSERT_EQ(io.Port().Open(), 0);
    }
};

std::unique_ptr<Parameter> Make(const char* name, const char* type,
                                const char* value = "Нет данных") {
    auto p = std::make_unique<Parameter>();
    p->name = name;
    p->type = type;
    p->value = value;
    return p;
}

// Answers every request with the hash it came with and the given data.
ScriptedPeer::Script Echo(std::vector<std::uint8_t> data) {
    return [data](const ScriptedPeer::Request& r) { return ScriptedPeer::Answer(r.Hash(), data); };
}

}  // namespace

TEST_F(DeviceIOTest, SilentDeviceGivesThreeAttemptsOfTwoSends) {
    ScriptedPeer peer([](const ScriptedPeer::Request&) { return std::nullopt; });
    DeviceIO io;
    Connect(io, peer);
    auto p = Make("r.co", "float");
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *p), ExchangeCode::kFailed);
    EXPECT_EQ(p->error, kTimeout);
    EXPECT_EQ(peer.Requests().size(), 6u);
    EXPECT_EQ(Outcome::Flags(), Outcome::kNoAnswer);
}

TEST_F(DeviceIOTest, DeviceErrorAnswers) {
    struct Case {
        std::vector<std::uint8_t> errorData;
        int code;
        const char* text;
    } cases[] = {
        {{0x33},
         ExchangeCode::kAccessDenied,
         "Редактирование параметра запрещено атрибутами доступа"},
        {{}, ExchangeCode::kFailed, ""},
        {{0x28}, ExchangeCode::kFailed, "Не найден дескриптор"},
        {{0x99}, ExchangeCode::kFailed, ""},
    };
    for (const Case& c : cases) {
        ScriptedPeer peer([&](const ScriptedPeer::Request&) {
            return ScriptedPeer::Answer(DeviceIO::kHashNErr, c.errorData);
        });
        DeviceIO io;
        Connect(io, peer);
        auto p = Make("r.co", "float", "1.5");
        EXPECT_EQ(io.exchange_parameter(Direction::Write, *p), c.code);
        EXPECT_EQ(p->error, c.text);
        EXPECT_EQ(peer.Requests().size(), 1u);  // no retry on a device error
    }
}

TEST_F(DeviceIOTest, ForeignHashAndBrokenFrames) {
    struct Case {
        std::function<std::string(const ScriptedPeer::Request&)> answer;
        const char* text;
        std::size_t sends;
        std::uint32_t outcome;
    } cases[] = {
        {[](const auto&) { return ScriptedPeer::Answer(0x1234, {1}); },
         "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\nВозможно в сети "
         "RS-485 "
         "присутствует прибор со включенной функцией \"Мастер\"",
         1, 0},
        {[](const auto& r) {
             std::string a = ScriptedPeer::Answer(r.Hash(), {1, 2, 3, 4});
             a[5] = a[5] == 'G' ? 'H' : 'G';
             return a;
         },
         "Ошибка в контрольной сумме ответа", 1, 0},
        {[](const auto&) { return std::string("GGGG\r"); }, "Потеря начала посылки.", 8,
         Outcome::kBadAnswers},
        {[](const auto& r) {
             return ScriptedPeer::Answer(r.Hash(), {1, 2, 3, 4}) + std::string(60, 'G');
         },
         nullptr, 1, 0},
        {[](const auto&) { return "#" + std::string(70, 'G') + "\r"; },
         "Ошибка в контрольной сумме ответа", 1, 0},
    };
    for (const Case& c : cases) {
        Outcome::Reset();
        ScriptedPeer peer([&](const ScriptedPeer::Request& r) { return c.answer(r); });
        DeviceIO io;
        Connect(io, peer);
        auto p = Make("rEAd", "float");
        int r = io.exchange_parameter(Direction::Read, *p);
        if (c.text) {
            EXPECT_EQ(r, ExchangeCode::kFailed);
            EXPECT_EQ(p->error, c.text);
            EXPECT_EQ(p->value, "Нет данных");  // nothing taken from a failed frame
        } else {
            EXPECT_EQ(r, ExchangeCode::kOk) << p->error;
        }
        EXPECT_EQ(peer.Requests().size(), c.sends);
        EXPECT_EQ(Outcome::Flags(), c.outcome);
    }
}

TEST_F(DeviceIOTest, AplyIsSentOnceWithoutWaitingForItsAnswer) {
    ScriptedPeer peer([](const ScriptedPeer::Request&) { return std::nullopt; });
    DeviceIO io;
    Connect(io, peer);
    auto p = Make("APLY", "DEC dot", "");
    EXPECT_EQ(io.exchange_parameter(Direction::Write, *p), ExchangeCode::kOk);
    ASSERT_EQ(peer.Requests().size(), 1u);
    EXPECT_EQ(peer.Requests()[0].Hash(), 0x8403);
    EXPECT_TRUE(peer.Requests()[0].Data().empty());
}

TEST_F(DeviceIOTest, IndexedReadCarriesTheIndexAndDecodesWithoutIt) {
    ScriptedPeer peer(Echo({0x01, 0x2C, 0x01, 0x02}));
    DeviceIO io;
    Connect(io, peer);
    auto p = Make("n.Ch", "int16");
    p->hasLinearIndex = true;
    p->linearIndex = 0x0102;
    p->needUpdate = true;
    ExchangeLog log;
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *p, &log), ExchangeCode::kOk);
    EXPECT_EQ(p->value, "300");
    EXPECT_FALSE(p->needUpdate);
    EXPECT_EQ(p->rawLength, 4);
    ASSERT_EQ(peer.Requests().size(), 1u);
    EXPECT_EQ(peer.Requests()[0].Data(), (std::vector<std::uint8_t>{0x01, 0x02}));
    EXPECT_TRUE(peer.Requests()[0].IsRead());
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0], "Размер инф-ой части посылки 2 байт.");
    EXPECT_EQ(log[1], ">> Посылка: # 0 : 001 = 0x01 (.)");
    EXPECT_EQ(log[3], "<< Ответ: # 0 : 001 = 0x01 (.)");
    EXPECT_EQ(log[4], "<< Ответ: # 1 : 044 = 0x2c (,)");
    EXPECT_EQ(log[7], "Инф-ная часть квитанции ответа имеет размер 4 байт.");
}

TEST_F(DeviceIOTest, ValuesWithoutWireFormAreNeverSent) {
    ScriptedPeer peer(Echo({}));
    DeviceIO io;
    Connect(io, peer);
    auto e = Make("mode", "Выкл:Вкл", "Авто");
    ExchangeLog log;
    EXPECT_EQ(io.exchange_parameter(Direction::Write, *e, &log), ExchangeCode::kNotEncodable);
    EXPECT_EQ(log.back(), "Неверное значение (неудается закодировать данные)");
    auto dev = Make("dev", "ASCI", "x");
    EXPECT_EQ(io.exchange_parameter(Direction::Write, *dev, &log), ExchangeCode::kNoWriteMethod);
    EXPECT_EQ(log.back(), "Метод формирования посылки записи для команды 'dev' не определен.");
    EXPECT_EQ(io.exchange_parameter(Direction::Write, *e, nullptr), ExchangeCode::kNotEncodable);
    EXPECT_TRUE(peer.Requests().empty());
}

TEST_F(DeviceIOTest, AccessCodeGoesBeforeAProtectedWrite) {
    ScriptedPeer peer(
        [](const ScriptedPeer::Request& r) { return ScriptedPeer::Answer(r.Hash(), r.Data()); });
    DeviceIO io;
    Connect(io, peer);
    auto p = Make("r.co", "DEC dot", "5");
    p->bindingKind = 7;
    EXPECT_EQ(io.exchange_parameter(Direction::Write, *p), ExchangeCode::kOk);
    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Hash(), hash_name("pass"));
    EXPECT_EQ(requests[0].Data(), (std::vector<std::uint8_t>{0x01, 0x0F}));  // 271
    EXPECT_FALSE(requests[0].IsRead());
    EXPECT_EQ(requests[1].Hash(), hash_name("r.co"));
}

TEST_F(DeviceIOTest, IgnoredWriteFailuresOfKindTen) {
    ScriptedPeer peer([](const ScriptedPeer::Request&) {
        return ScriptedPeer::Answer(DeviceIO::kHashNErr, {0x47});
    });
    DeviceIO io;
    Connect(io, peer);
    auto p = Make("r.co", "DEC dot", "5");
    p->bindingKind = 10;
    p->needUpdate = true;
    EXPECT_EQ(io.exchange_parameter(Direction::Write, *p), ExchangeCode::kOk);
    EXPECT_TRUE(p->error.empty());
    EXPECT_FALSE(p->needUpdate);
}

TEST_F(DeviceIOTest, ScaledReadingCombinesItsPartners) {
    // reading 2.0, slope 1.5, shift -1.0 as big-endian singles
    ScriptedPeer peer([](const ScriptedPeer::Request& r) -> std::optional<std::string> {
        if (r.Hash() == hash_name("read"))
            return ScriptedPeer::Answer(r.Hash(), {0x40, 0x00, 0x00, 0x00});
        if (r.Hash() == hash_name("in.sl"))
            return ScriptedPeer::Answer(r.Hash(), {0x3F, 0xC0, 0x00, 0x00});
        if (r.Hash() == hash_name("in.sh"))
            return ScriptedPeer::Answer(r.Hash(), {0xBF, 0x80, 0x00, 0x00});
        return std::nullopt;
    });
    DeviceIO io;
    Connect(io, peer);
    auto slope = Make("in.sl", "float"), shift = Make("in.sh", "float"),
         reading = Make("read", "float");
    auto scaled = Make("rEAd", "float");
    scaled->bindingKind = 5;
    scaled->linked = {slope.get(), shift.get(), reading.get()};
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *scaled), ExchangeCode::kOk);
    EXPECT_EQ(scaled->value, "2.000");
    EXPECT_EQ(io.exchange_parameter(Direction::Write, *scaled), ExchangeCode::kOk);
    EXPECT_EQ(peer.Requests().size(), 3u);

    scaled->linked.pop_back();
    ExchangeLog log;
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *scaled, &log), ExchangeCode::kFailed);
    EXPECT_EQ(log, (ExchangeLog{"Данный параметр в приборе не существует!"}));
}

TEST_F(DeviceIOTest, ScaledReadingShowsAStatusCodeAsText) {
    ScriptedPeer peer([](const ScriptedPeer::Request& r) -> std::optional<std::string> {
        if (r.Hash() == hash_name("read")) return ScriptedPeer::Answer(r.Hash(), {0xFD, 0, 0, 0});
        return ScriptedPeer::Answer(r.Hash(), {0x3F, 0x80, 0, 0});
    });
    DeviceIO io;
    Connect(io, peer);
    auto slope = Make("in.sl", "float"), shift = Make("in.sh", "float"),
         reading = Make("read", "float");
    reading->name = "read";
    auto scaled = Make("rEAd", "float");
    scaled->bindingKind = 5;
    scaled->linked = {reading.get(), slope.get(), shift.get()};
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *scaled), ExchangeCode::kOk);
    EXPECT_EQ(scaled->value, reading->value);
}

TEST_F(DeviceIOTest, PackedPairIsReadOncePerOperation) {
    // Y = -12.5, X = 30.0
    ScriptedPeer peer(Echo({0x80, 0x7D, 0x01, 0x2C}));
    DeviceIO io;
    Connect(io, peer);
    auto packed = Make("grtp", "DWORD");
    auto x = Make("X", "float"), y = Make("y", "float"), other = Make("Z", "float");
    for (Parameter* p : {x.get(), y.get(), other.get()}) {
        p->bindingKind = 1;
        p->linked = {packed.get()};
    }
    io.RenewOperationStamp();
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *x), ExchangeCode::kOk);
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *y), ExchangeCode::kOk);
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *other), ExchangeCode::kOk);
    EXPECT_EQ(x->value, "30.0");
    EXPECT_EQ(y->value, "-12.5");
    EXPECT_EQ(other->value, "Нет данных");
    EXPECT_EQ(peer.Requests().size(), 1u);

    auto lonely = Make("X", "float");
    lonely->bindingKind = 8;
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *lonely), ExchangeCode::kFailed);
}

TEST_F(DeviceIOTest, ValueTakenFromTheFirstOfTwo) {
    ScriptedPeer peer([](const ScriptedPeer::Request& r) -> std::optional<std::string> {
        if (r.Hash() == hash_name("rtC"))
            return ScriptedPeer::Answer(r.Hash(), {0x10, 0x20, 0x30, 0x40});
        return ScriptedPeer::Answer(r.Hash(), {1});
    });
    DeviceIO io;
    Connect(io, peer);
    auto source = Make("rtC", "DWORD"), selector = Make("s.w", "Зима:Лето");
    auto p = Make("t x", "DWORD");
    p->bindingKind = 6;
    p->linked = {source.get(), selector.get()};
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *p), ExchangeCode::kOk);
    EXPECT_EQ(selector->value, "Лето");
    EXPECT_EQ(p->value, std::to_string(0x10203041u));
}

TEST_F(DeviceIOTest, NoPortMeansNoExchange) {
    Startup().noPort = true;
    DeviceIO io;
    auto p = Make("r.co", "float");
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *p), ExchangeCode::kOk);
    Startup().noPort = false;
}

TEST(ProtocolErrorText, KnownAndUnknownCodes) {
    EXPECT_EQ(protocol_error_text(0x35), "Индекс параметра превышает ограничитель индекса");
    EXPECT_EQ(protocol_error_text(0x36), protocol_error_text(0x35));
    EXPECT_EQ(protocol_error_text(0x29),
              "Не найдена сетевая функция, хотя дескриптор найден!!!\t\t\t\t\t\t\t  В нормальном "
              "приборе эта ошибка встречаться НЕ ДОЛЖНА!!!");
    EXPECT_EQ(protocol_error_text(0x01), "");
    EXPECT_EQ(protocol_error_text(0xFF), "");
}

namespace {

// An int16 answer for an indexed request: the value, then the index back.
std::vector<std::uint8_t> IndexedAnswer(std::uint16_t value, std::uint16_t index) {
    return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF),
            static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index & 0xFF)};
}

std::uint16_t RequestIndex(const ScriptedPeer::Request& r) {
    auto d = r.Data();
    return d.size() >= 2 ? static_cast<std::uint16_t>(d[d.size() - 2] << 8 | d[d.size() - 1]) : 0;
}

}  // namespace

TEST_F(DeviceIOTest, LateAnswersAreNeverTakenForTheNextRequest) {
    // Every answer comes 230 ms after its request, past the 200 ms answer
    // wait: the answer to one send arrives while the next one is waited for.
    // The device holds 1000 + index at each index of "n.Ch" and 7 in "r.co".
    ScriptedPeer peer([](const ScriptedPeer::Request& r) -> std::optional<std::string> {
        std::this_thread::sleep_for(std::chrono::milliseconds(230));
        if (r.Hash() == hash_name("r.co")) return ScriptedPeer::Answer(r.Hash(), {0, 7});
        if (r.Hash() == DeviceIO::kHashNErr) return ScriptedPeer::Answer(r.Hash(), {0});
        const std::uint16_t index = RequestIndex(r);
        return ScriptedPeer::Answer(r.Hash(),
                                    IndexedAnswer(static_cast<std::uint16_t>(1000 + index), index));
    });
    DeviceIO io;
    Connect(io, peer);
    int read = 0;
    for (int round = 0; round < 2; ++round) {
        // A late "no error" answer is not an error answer to the next request.
        auto errors = Make("n.Err", "byte");
        if (io.exchange_parameter(Direction::Read, *errors) == ExchangeCode::kOk) ++read;
        for (int index = 0; index < 3; ++index) {
            auto p = Make("n.Ch", "int16");
            p->hasLinearIndex = true;
            p->linearIndex = index;
            if (io.exchange_parameter(Direction::Read, *p) == ExchangeCode::kOk) {
                ++read;
                EXPECT_EQ(p->value, std::to_string(1000 + index)) << "index " << index;
            } else {
                EXPECT_EQ(p->error, kTimeout);
            }
        }
        // Another name between: a late indexed answer is not "another master".
        auto other = Make("r.co", "int16");
        if (io.exchange_parameter(Direction::Read, *other) == ExchangeCode::kOk) {
            ++read;
            EXPECT_EQ(other->value, "7");
        } else {
            EXPECT_EQ(other->error, kTimeout);
        }
    }
    EXPECT_GT(read, 0);
    EXPECT_GT(io.LateAnswers(), 0u);
}

TEST_F(DeviceIOTest, EchoesNoiseAndStrayFramesBeforeTheAnswerAreSkipped) {
    const std::uint16_t reading = hash_name("rEAd");
    struct Case {
        const char* what;
        std::function<std::string(const ScriptedPeer::Request&)> answer;
    } cases[] = {
        {"an echo of the request",
         [&](const ScriptedPeer::Request& r) {
             LineFrame echo;
             build_request(16, 0, 8, true, r.Hash(), nullptr, 0, echo);
             return std::string(echo.View()) + ScriptedPeer::Answer(r.Hash(), {0x41, 0x20, 0, 0});
         }},
        {"noise before the frame",
         [&](const ScriptedPeer::Request& r) {
             return "\x01zz#G" + ScriptedPeer::Answer(r.Hash(), {0x41, 0x20, 0, 0});
         }},
        {"an answer to an earlier request first",
         [&](const ScriptedPeer::Request& r) {
             if (r.Hash() != reading) return ScriptedPeer::Answer(r.Hash(), {0, 1});
             return ScriptedPeer::Answer(hash_name("r.co"), {0, 1}) +
                    ScriptedPeer::Answer(r.Hash(), {0x41, 0x20, 0, 0});
         }},
    };
    for (const Case& c : cases) {
        ScriptedPeer peer([&](const ScriptedPeer::Request& r) { return c.answer(r); });
        DeviceIO io;
        Connect(io, peer);
        auto before = Make("r.co", "int16");
        io.exchange_parameter(Direction::Read, *before);
        auto p = Make("rEAd", "float");
        EXPECT_EQ(io.exchange_parameter(Direction::Read, *p), ExchangeCode::kOk)
            << c.what << ": " << p->error;
        EXPECT_EQ(p->value.rfind("10", 0), 0u) << c.what << ": " << p->value;
    }
}

TEST_F(DeviceIOTest, AByteOutsideTheCodePageKeepsTheExchangeLogUtf8) {
    ScriptedPeer peer(Echo({0x80, 0xC0, 0x98, 0x41}));
    DeviceIO io;
    Connect(io, peer);
    auto p = Make("r.co", "float");
    ExchangeLog log;
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *p, &log), ExchangeCode::kOk);
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[1], "<< Ответ: # 0 : 128 = 0x80 (Ђ)");
    EXPECT_EQ(log[2], "<< Ответ: # 1 : 192 = 0xc0 (А)");
    EXPECT_EQ(log[3], "<< Ответ: # 2 : 152 = 0x98 (.)");
    EXPECT_EQ(log[4], "<< Ответ: # 3 : 065 = 0x41 (A)");
}
