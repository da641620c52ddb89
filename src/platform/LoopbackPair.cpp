#include "platform/LoopbackPair.h"

#include "platform/ReceiverGate.h"

#include <cstdint>

namespace cantivo {

namespace {

struct Link {
    Link(std::string name, const MicrosecondClock& clock) : name(std::move(name)), clock(clock) {}
    const std::string name;
    const MicrosecondClock& clock;
    ReceiverGate gate;
};

class LoopbackOut final : public MidiOutDevice {
  public:
    explicit LoopbackOut(std::shared_ptr<Link> link) : link_(std::move(link)) {}
    std::string Name() const override { return link_->name; }
    void SendShort(uint32_t message) override
    {
        const uint8_t bytes[3] = {static_cast<uint8_t>(message), static_cast<uint8_t>(message >> 8),
                                  static_cast<uint8_t>(message >> 16)};
        link_->gate.Deliver(link_->clock.NowMicroseconds(), std::span<const uint8_t>(bytes, ShortMessageSize(message)));
    }
    void SendLong(std::span<const uint8_t> bytes) override
    {
        if (!bytes.empty())
            link_->gate.Deliver(link_->clock.NowMicroseconds(), bytes);
    }

  private:
    std::shared_ptr<Link> link_;
};

class LoopbackIn final : public MidiInDevice {
  public:
    explicit LoopbackIn(std::shared_ptr<Link> link) : link_(std::move(link)) {}
    ~LoopbackIn() override { Stop(); }
    std::string Name() const override { return link_->name; }
    bool Start(MidiInReceiver& receiver) override
    {
        link_->gate.Open(receiver);
        return true;
    }
    void Stop() override { link_->gate.Close(); }

  private:
    std::shared_ptr<Link> link_;
};

} // namespace

LoopbackPair LoopbackPair::Make(const std::string& name, const MicrosecondClock& clock)
{
    auto link = std::make_shared<Link>(name, clock);
    return LoopbackPair{std::make_unique<LoopbackOut>(link), std::make_unique<LoopbackIn>(link)};
}

} // namespace cantivo
