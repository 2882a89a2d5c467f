// A text's events as they bear on its data, for tests that compare what an
// emitted text reads back as with what its source read as.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scanner/src/parser.hpp"

namespace brackle_test {

// The events of `text` as they bear on its data: kinds, anchors, tags and
// values, one line each; no styles, markers or comments. Ends with an
// `error` line when the text does not parse.
inline std::vector<std::string> data_events(std::string_view text) {
    using brackle_scanner::EventType;
    std::string_view source = text;
    if (source.starts_with("\xEF\xBB\xBF")) source.remove_prefix(3);
    brackle_scanner::Parser parser(source);
    brackle_scanner::Event ev;
    std::vector<std::string> out;
    do {
        if (!parser.next_event(ev)) {
            out.push_back("error " + parser.error().info);
            break;
        }
        std::string line;
        switch (ev.type) {
            case EventType::StreamStart: line = "+STR"; break;
            case EventType::StreamEnd: line = "-STR"; break;
            case EventType::DocumentStart: line = "+DOC"; break;
            case EventType::DocumentEnd: line = "-DOC"; break;
            case EventType::MappingStart: line = "+MAP"; break;
            case EventType::MappingEnd: line = "-MAP"; break;
            case EventType::SequenceStart: line = "+SEQ"; break;
            case EventType::SequenceEnd: line = "-SEQ"; break;
            case EventType::Scalar: line = "=VAL"; break;
            case EventType::Alias: line = "=ALI"; break;
            case EventType::Comment: continue;
        }
        if (ev.anchor) line += (ev.type == EventType::Alias ? " *" : " &") + *ev.anchor;
        if (ev.tag) line += " <" + ev.tag->handle + ev.tag->suffix + ">";
        if (ev.type == EventType::Scalar) line += " :" + ev.value;
        out.push_back(std::move(line));
    } while (ev.type != EventType::StreamEnd);
    return out;
}

}  // namespace brackle_test
