// The table of compiled forms of an interpreter: forms by source position
// and how the sentence was asked for, function forms by definition text,
// the words the text has called, staleness and the bound on its size.
#ifndef QOTOOL_ENGINE_FORMS_TABLE_H
#define QOTOOL_ENGINE_FORMS_TABLE_H

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/forms/compiler.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/var_params.h"

namespace qotool::engine::forms {

class Table {
public:
    explicit Table(QoLRunContext* run) : words(&run->callWordsAsked) {}
    Form* Find(char* position, const char* terminators, char expectedType, char closer) {
        // The forms found last, by position: the terminator sets are the
        // callers' constant texts, so the same address is the same set.
        Recent& recent = recent_[((uintptr_t)position ^ ((uintptr_t)terminators >> 4)) % kRecent];
        if (recent.position == position && recent.terminators == terminators && recent.expectedType == expectedType &&
            recent.closer == closer && recent.form->Matches(position)) {
            if (recent.form->Stale(words)) Compile(*recent.form, position);
            return recent.form;
        }
        Form* form = Lookup(position, terminators, expectedType, closer);
        recent = {position, terminators, expectedType, closer, form};
        return form;
    }

    // A list that runs in part, found by RunCompiledForm for the DoSentence
    // that runs it next (nothing is compiled in between).
    Form* prefix = nullptr;
    const char* prefixAt = nullptr;

    // Starts again when full (called before a run looks anything up, so no
    // form found for that run goes away under it).
    void TrimIfFull() {
        if (count_ < kMaxForms) return;
        prefix = nullptr;
        forms_.clear();
        functions_.clear();
        count_ = 0;
        for (Recent& recent : recent_) recent = Recent();
    }

    // The function form of a definition text, made once for the text at
    // that address while it holds the same bytes.
    Form* Function(const char* definition) {
        auto it = functions_.find(definition);
        if (it != functions_.end() && it->second->Matches(definition) && !it->second->Stale(words))
            return it->second.get();
        if (it == functions_.end()) {
            it = functions_.emplace(definition, std::make_unique<Form>()).first;
            ++count_;
        }
        Form& form = *it->second;
        CompileFunction(form, definition);
        return &form;
    }

    CallWords words;

private:
    Form* Lookup(char* position, const char* terminators, char expectedType, char closer) {
        auto it = forms_.find(position);
        Form* head = it == forms_.end() ? nullptr : it->second.get();
        Form* form = head;
        while (form && !(form->expectedType == expectedType && form->closer == closer &&
                         strcmp(form->terminators.c_str(), terminators) == 0))
            form = form->next.get();
        if (form && form->Matches(position) && !form->Stale(words)) return form;
        if (!form) {
            auto added = std::make_unique<Form>();
            form = added.get();
            form->terminators = terminators;
            form->expectedType = expectedType;
            form->closer = closer;
            if (head) {
                added->next = std::move(head->next);
                head->next = std::move(added);
            } else {
                forms_[position] = std::move(added);
            }
            ++count_;
        }
        Compile(*form, position);
        return form;
    }

    void Compile(Form& form, char* position) {
        form.Reset();
        form.serial = ++serials_;
        form.wordGeneration = words.Generation();
        Compiler compiler(form, position, words);
        char* p = position;
        form.usable = compiler.Root(p, form.terminators.c_str(), form.expectedType);
        // Keep the bytes read, with two after the furthest look, up to and
        // including the text's end.
        const size_t want = (size_t)(compiler.Far() - position) + 2;
        size_t n = 0;
        while (n < want && position[n]) ++n;
        if (n < want) ++n;  // the zero
        form.source.assign(position, n);
    }

    // Formals as CallUserFunction reads them: plain names only, no default
    // values, no by-reference marks, then the body.
    void CompileFunction(Form& form, const char* definition) {
        form.Reset();
        form.serial = ++serials_;
        form.wordGeneration = words.Generation();
        form.source.assign(definition, strlen(definition) + 1);
        const char* p = strchr(definition, '(');
        if (!p) return;
        std::vector<std::string> formals;
        ++p;
        std::string_view name;
        while (NextFormalName(p, &name)) {
            const std::string formal(name);
            if (formal.empty() || !IsAsciiLetter(formal[0]) || formal.size() >= 80 || *p == '=' ||
                formal.compare(0, 7, "system_") == 0 || formals.size() == kMaxCallArgs)
                return;
            for (char c : formal)
                if (!IsAsciiLetter(c) && !IsDigitChar(c)) return;
            formals.push_back(formal);
        }
        if (*p != ')') return;
        char* body = const_cast<char*>(p) + 1;
        SkipBlanks(body);
        if (*body == '?' || *body == '$') return;
        form.formals = (int)formals.size();
        form.bodyAt = (int)(body - definition);
        form.terminators = ")";
        Compiler compiler(form, definition, words);
        form.usable = compiler.FunctionBody(body, formals);
    }

    struct Recent {
        const char* position = nullptr;
        const char* terminators = nullptr;
        char expectedType = 0;
        char closer = 0;
        Form* form = nullptr;
    };
    static constexpr size_t kRecent = 256;

    std::unordered_map<const char*, std::unique_ptr<Form>> forms_;
    std::unordered_map<const char*, std::unique_ptr<Form>> functions_;
    size_t count_ = 0;
    uint32_t serials_ = 0;
    Recent recent_[kRecent];
};

}  // namespace qotool::engine::forms

namespace qotool::engine {
class CompiledForms : public forms::Table {
public:
    using Table::Table;
};
}  // namespace qotool::engine

#endif
