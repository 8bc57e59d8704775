// pam_render.cpp - the private copy of a stack that the PAM run reads: the
// service's auth and account lines in a file named as the service in the
// folder's pam.d, each substack in a file of its own (named by its absolute
// path: Linux-PAM finds included files in /etc/pam.d even when the stack
// comes from another folder, and does not load a file whose name starts
// with a dot).
//
// With a marker, each module's line jumps, for each of the 32 answers, to
// a block of its own: pam_echo says "MARKER-LINE-VALUE" through the
// conversation, pam_debug answers that same value under the module line's
// own action for it, and pam_permit jumps on to the next line of the
// original stack when the action goes on.  A jump only moves, it decides
// nothing, so Linux-PAM reaches the same result through the same modules,
// and the conversation sees each answer in order.  Jumps are counted anew
// for the longer file.
#include <security/pam_appl.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "account/internal.h"

namespace credaccount {
namespace {

constexpr std::size_t kLongestLine = 1022;  // what Linux-PAM reads as one line, newline aside

std::string ActionWord(int action) {
    switch (action) {
        case kActionOk:
            return "ok";
        case kActionDone:
            return "done";
        case kActionBad:
            return "bad";
        case kActionDie:
            return "die";
        case kActionReset:
            return "reset";
        default:
            return action == kActionIgnore ? "ignore" : std::to_string(action);
    }
}

// Whether Linux-PAM may go on to the next line after the action (done goes
// on once the stack has failed).
bool GoesOn(int action) {
    return action != kActionDie && action <= kActionIgnore;
}

// A module name as one token of a line.
std::string Token(const std::string &text) {
    if (!text.empty() && text[0] != '[' && text.find_first_of(" \t\n") == std::string::npos)
        return text;
    std::string out = "[";
    for (char c : text) out += c == ']' ? std::string("\\]") : std::string(1, c);
    return out + "]";
}

class Renderer {
  public:
    Renderer(const PamStack &stack, const PamRenderOptions &options, std::vector<PamFile> *files)
        : stack_(stack), o_(options), files_(files) {}

    // The lines of idx[begin, end), one (sub)stack of type; enter: the
    // substack's line, or -1 for the service's own stack.
    std::string List(const std::vector<int> &idx, std::size_t begin, std::size_t end,
                     const std::string &type, int enter) {
        std::vector<std::size_t> units = Units(idx, begin, end);
        std::vector<std::size_t> starts(1, enter >= 0 && traced() ? 1 : 0);
        for (std::size_t u = 0; u + 1 < units.size(); ++u)
            starts.push_back(starts.back() + Size(idx[units[u]]));
        std::string text;
        if (enter >= 0 && traced())
            Emit(&text,
                 type + " [default=ignore] " + Helper("pam_echo.so") + " " + Mark(enter, "enter"));
        for (std::size_t u = 0; u + 1 < units.size(); ++u) {
            starts_ = starts;  // a substack's list replaces them
            unit_ = u;
            if (Line(idx[units[u]]).substack)
                Substack(idx, units[u], units[u + 1], type, &text);
            else
                Module(idx[units[u]], type, &text);
        }
        return text;
    }

    bool fits() const { return fits_; }

  private:
    const PamStackLine &Line(int i) const { return stack_.lines[static_cast<std::size_t>(i)]; }

    // Where each unit of idx[begin, end) starts (a module's line, or a
    // substack's line and the lines within it), then end.
    std::vector<std::size_t> Units(const std::vector<int> &idx, std::size_t begin,
                                   std::size_t end) const {
        std::vector<std::size_t> units;
        for (std::size_t k = begin; k < end; ++k) {
            units.push_back(k);
            int level = Line(idx[k]).level;
            if (Line(idx[k]).substack)
                while (k + 1 < end && Line(idx[k + 1]).level > level) ++k;
        }
        units.push_back(end);
        return units;
    }

    // A substack's line, its lines idx(at, end) in a file of their own.
    void Substack(const std::vector<int> &idx, std::size_t at, std::size_t end,
                  const std::string &type, std::string *text) {
        std::string name = "substack-" + std::to_string(files_->size());
        files_->push_back({name, {}});
        std::size_t slot = files_->size() - 1;
        std::string inner = List(idx, at + 1, end, type, idx[at]);
        (*files_)[slot].text = inner;
        Emit(text, type + " substack " + o_.folder + "/" + name);
    }
    bool traced() const { return !o_.marker.empty(); }
    std::string Helper(const char *name) const { return o_.helpers + "/" + name; }
    std::string Mark(int line, const std::string &what) const {
        return o_.marker + "-" + std::to_string(line) + "-" + what;
    }

    // The lines a unit takes.
    std::size_t Size(int i) const {
        const PamStackLine &l = Line(i);
        if (l.substack || !traced()) return 1;
        if (l.mustFail) return 2 + GoesOn(l.actions[PAM_PERM_DENIED]);
        std::size_t size = 2;
        for (int action : l.actions) size += 2 + GoesOn(action);
        return size;
    }

    // The position that skip more units after the current one lead to;
    // past the end when they are more than the stack has.
    std::size_t Target(int skip) const {
        std::size_t t = unit_ + 1 + static_cast<std::size_t>(skip), n = starts_.size() - 1;
        return t <= n ? starts_[t] : starts_[n] + (t - n);
    }

    // The control that jumps from position at to target.  Linux-PAM
    // refuses a jump of 0 (it logs an error and makes every answer of the
    // line bad): going on to the next line is "ignore".
    static std::string Jump(std::size_t at, std::size_t target) {
        std::size_t skip = target - at - 1;
        return "[default=" + (skip == 0 ? std::string("ignore") : std::to_string(skip)) + "]";
    }

    void Emit(std::string *text, const std::string &line) {
        fits_ = fits_ && line.size() <= kLongestLine;
        *text += line + "\n";
    }

    // A module's line: as written, or with its answers' blocks.
    void Module(int i, const std::string &type, std::string *text) {
        const PamStackLine &l = Line(i);
        std::size_t at = starts_[unit_];
        std::size_t n = static_cast<std::size_t>(i);
        std::string module = Token(l.module) + (l.args.empty() ? "" : " " + l.args) +
                             (n < o_.extraArgs.size() ? o_.extraArgs[n] : "");
        // A line Linux-PAM cannot load answers as a module it cannot find.
        if (l.mustFail) module = o_.folder + "/no-module";
        // A line that is not run answers as its module does when it works.
        if (n < o_.assumed.size() && o_.assumed[n])
            module = o_.helpers.empty() ? "pam_permit.so" : Helper("pam_permit.so");
        std::string head = (l.optional ? "-" : "") + type + " ";
        if (!traced()) {
            Emit(text, head + Control(l.actions) + " " + module);
            return;
        }
        if (l.mustFail) {
            Block(i, PAM_PERM_DENIED, type, at, text);
            return;
        }
        std::string control = "[";
        std::size_t block = at + 2;
        for (int v = 0; v < kPamValues; ++v) {
            control += std::string(v > 0 ? " " : "") + PamValueName(v) + "=" +
                       std::to_string(block - at - 1);
            block += 2 + GoesOn(l.actions[v]);
        }
        Emit(text, head + control + "] " + module);
        // Only an answer Linux-PAM does not know reaches the next line; it
        // was bad, and the stack goes on.
        Emit(text, type + " " + Jump(at + 1, Target(0)) + " " + Helper("pam_echo.so") + " " +
                       Mark(i, "x"));
        block = at + 2;
        for (int v = 0; v < kPamValues; ++v) block = Block(i, v, type, block, text);
    }

    // The block of answer v of line i at position at; returns the next.
    std::size_t Block(int i, int v, const std::string &type, std::size_t at, std::string *text) {
        int action = Line(i).actions[v];
        std::string value = (type == "auth" ? "auth=" : "acct=") + std::string(PamValueName(v));
        Emit(text, type + " [default=ignore] " + Helper("pam_echo.so") + " " +
                       Mark(i, std::to_string(v)));
        std::string act =
            action > 0 ? Jump(at + 1, Target(action)) : "[default=" + ActionWord(action) + "]";
        Emit(text, type + " " + act + " " + Helper("pam_debug.so") + " " + value);
        if (!GoesOn(action)) return at + 2;
        Emit(text, type + " " + Jump(at + 2, Target(0)) + " " + Helper("pam_permit.so"));
        return at + 3;
    }

    // A control with the same action for each answer as actions.
    static std::string Control(const int *actions) {
        int common = actions[0], most = 0;
        for (int v = 0; v < kPamValues; ++v) {
            int count = static_cast<int>(std::count(actions, actions + kPamValues, actions[v]));
            if (count > most) most = count, common = actions[v];
        }
        std::string out = "[default=" + ActionWord(common);
        for (int v = 0; v < kPamValues; ++v)
            if (actions[v] != common)
                out += std::string(" ") + PamValueName(v) + "=" + ActionWord(actions[v]);
        return out + "]";
    }

    const PamStack &stack_;
    const PamRenderOptions &o_;
    std::vector<PamFile> *files_;
    std::vector<std::size_t> starts_;  // the units' positions in the list being written
    std::size_t unit_ = 0;             // the unit being written
    bool fits_ = true;
};

}  // namespace

bool RenderStack(const PamStack &stack, const char *service, const PamRenderOptions &options,
                 std::vector<PamFile> *files) {
    files->assign(1, PamFile{std::string("pam.d/") + service, {}});
    if (stack.aborts) {
        // As the service's own file does, this one fails to load.
        (*files)[0].text = "@include " + options.folder + "/missing\n";
        return true;
    }
    Renderer renderer(stack, options, files);
    std::string text;
    for (const char *type : {"auth", "account"}) {
        std::vector<int> idx;
        for (std::size_t i = 0; i < stack.lines.size(); ++i)
            if (stack.lines[i].type == type) idx.push_back(static_cast<int>(i));
        text += renderer.List(idx, 0, idx.size(), type, -1);
    }
    (*files)[0].text = text;
    // Every line is in the service's file; an empty "other" spares the
    // log Linux-PAM's complaint that the folder has none.
    if (std::string_view(service) != "other") files->push_back({"pam.d/other", ""});
    return renderer.fits();
}

}  // namespace credaccount
