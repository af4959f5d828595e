// Loop forms: the condition, body and step forms of a for loop (a while
// loop's condition and body) joined into one form whose runner runs pass
// after pass, each variable in one slot across the parts, and which hands
// over to the text at the part that gives up with the stores of the parts
// before it made.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/forms/runner.h"

namespace qotool::engine::forms {

namespace {

// What a part may hold to be joined: no calls (their stores go through the
// run's own held stores), no growing string, no return, goto or label, no
// parameters.
bool Joinable(const Form& part) {
    if (!part.usable || !part.calls.empty() || part.appendSlot >= 0 || part.returns || !part.labels.empty() ||
        part.resume >= 0 || part.cut || part.formals)
        return false;
    for (const Step& step : part.steps)
        if (step.kind == StepKind::Return || step.kind == StepKind::Goto || step.kind == StepKind::AssignParam ||
            step.kind == StepKind::IncrementParam || step.kind == StepKind::Append ||
            step.kind == StepKind::TextValue || step.kind == StepKind::AssignText)
            return false;
    for (const Node& node : part.nodes)
        if (node.op == Op::Call || node.op == Op::Param) return false;
    return true;
}

// The index of the entry of entries named name, added at the end when
// there is none (slots and arrays are joined by name alike).
template <typename Entry>
int IndexNamed(std::vector<Entry>& entries, const std::string& name) {
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].name == name) return (int)i;
    entries.emplace_back();
    entries.back().name = name;
    return (int)entries.size() - 1;
}

// Appends part's nodes and steps to loop, its slots, arrays and texts
// joined by name.
void Join(Form& loop, const Form& part) {
    const int nodeBase = (int)loop.nodes.size();
    const int stepBase = (int)loop.steps.size();
    const int textBase = (int)loop.texts.size();
    for (const std::string& text : part.texts) loop.texts.push_back(text);
    for (Node node : part.nodes) {
        if (node.left >= 0) node.left += nodeBase;
        if (node.right >= 0) node.right += nodeBase;
        if (ReadsSlot(node.op))
            node.slot = IndexNamed(loop.slots, part.slots[(size_t)node.slot].name);
        else if (node.op == Op::ReadCell)
            node.slot = IndexNamed(loop.arrays, part.arrays[(size_t)node.slot].name);
        else if (node.op == Op::Text)
            node.slot += textBase;
        else if (SlotIsNode(node.op))
            node.slot += nodeBase;
        loop.nodes.push_back(node);
    }
    for (Step step : part.steps) {
        if (step.node >= 0) step.node += nodeBase;
        switch (step.kind) {
        case StepKind::Assign:
        case StepKind::Increment: step.slot = IndexNamed(loop.slots, part.slots[(size_t)step.slot].name); break;
        case StepKind::AssignCell:
            step.slot = IndexNamed(loop.arrays, part.arrays[(size_t)step.slot].name);
            step.target += nodeBase;
            if (step.column >= 0) step.column += nodeBase;
            break;
        case StepKind::Branch:
        case StepKind::Jump:
        case StepKind::Case: step.target += stepBase; break;
        default: break;
        }
        loop.steps.push_back(step);
    }
}

}  // namespace

Form* LoopFormFor(Form* condition, Form* body, Form* step) {
    Form* loop = condition->loop.get();
    if (loop && loop->parts[1] == body && loop->parts[2] == step && loop->partSerials[1] == body->serial &&
        loop->partSerials[2] == (step ? step->serial : 0))
        return loop->usable ? loop : nullptr;
    condition->loop.reset(new Form());
    loop = condition->loop.get();
    loop->parts[0] = condition;
    loop->parts[1] = body;
    loop->parts[2] = step;
    for (int i = 0; i < 3; ++i) loop->partSerials[i] = loop->parts[i] ? loop->parts[i]->serial : 0;
    for (const Form* part : loop->parts)
        if (part && !Joinable(*part)) return nullptr;
    for (int i = 0; i < 3; ++i) {
        loop->partFrom[i] = (int)loop->steps.size();
        if (loop->parts[i]) Join(*loop, *loop->parts[i]);
        loop->partTo[i] = (int)loop->steps.size();
    }
    // The runner keeps which slots a part stored into in 64 bits.
    loop->usable = loop->slots.size() <= 64;
    for (size_t i = 0; loop->usable && i < loop->slots.size(); ++i) loop->slots[i].bit = (uint64_t)1 << i;
    return loop->usable ? loop : nullptr;
}

}  // namespace qotool::engine::forms
