#include "console/trace_setting.h"

namespace NEBRIX {

namespace {

TraceSetting withConfigText(std::function<void(TraceFlags&)> apply, std::string text) {
  std::string configText = "CONFIG " + text;
  return {std::move(apply), std::move(text), std::move(configText)};
}

}  // namespace

TraceSetting onOffSetting(const char* name, bool TraceFlags::*field, bool on) {
  return withConfigText([field, on](TraceFlags& f) { f.*field = on; },
                        std::string("TRACE ") + name + (on ? " ON" : " OFF"));
}

TraceSetting categorySetting(const TraceCategoryInfo& category, bool on, int32_t packetSize) {
  const TraceCategory which = category.category;
  return withConfigText(
      [which, on, packetSize](TraceFlags& f) {
        f.setTraced(which, on);
        if (on && which == TraceCategory::PACKET) f.m_packetsize = packetSize;
      },
      std::string("TRACE ") + category.keyword + (on ? " ON" : " OFF"));
}

TraceSetting fileSizeSetting(int32_t size) {
  return withConfigText([size](TraceFlags& f) { f.m_filesize = size; },
                        "TRACE SIZE " + std::to_string(size));
}

TraceSetting stopOnErrorSetting(bool stop, int32_t code, int32_t count) {
  std::string text = "TRACE STOP ON ERROR ";
  if (!stop) {
    text += "OFF";
  } else {
    text += std::to_string(code);
    if (count > 1) text += " COUNT " + std::to_string(count);
  }
  return withConfigText(
      [stop, code, count](TraceFlags& f) {
        f.m_stop_on_error = stop;
        f.m_errorcode = code;
        f.m_errorcount = count;
      },
      text);
}

TraceSetting counterSetting(CounterAction action) {
  const char* text = action == COUNTERS_RESET     ? "PROFILE RESET"
                     : action == COUNTERS_COLLECT ? "PROFILE COLLECT ON"
                                                 : "PROFILE COLLECT OFF";
  return {[action](TraceFlags& f) { f.m_counterAction = action; }, text, text};
}

}  // namespace NEBRIX
