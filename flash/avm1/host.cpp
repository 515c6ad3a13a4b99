// The interpreter as the player's script host.
#include "flash/avm1/avm1.h"
#include "flash/avm1/interpreter.h"

namespace qm::flash {

namespace {
class Avm1ScriptHost : public ScriptHost {
public:
    explicit Avm1ScriptHost(const Avm1Options& options) : interpreter_(options) { interpreter_.ApplyLimits(options); }
    void Run(ScriptEnvironment& env, DisplayObject& clip, std::span<const uint8_t> actions, ScriptKind) override {
        interpreter_.RunList(env, clip, actions);
    }
    void EndOfScripts() override { interpreter_.EndOfScripts(); }
    void ClipEvent(ScriptEnvironment& env, DisplayObject& clip, uint32_t event) override {
        interpreter_.ClipEvent(env, clip, event);
    }

private:
    avm1::Interpreter interpreter_;
};
}  // namespace

std::unique_ptr<ScriptHost> MakeAvm1ScriptHost(const Avm1Options& options) {
    return std::make_unique<Avm1ScriptHost>(options);
}

}  // namespace qm::flash
