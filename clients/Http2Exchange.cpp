#include "clients/Http2Exchange.h"

#include <nghttp2/nghttp2.h>

#include <algorithm>
#include <memory>

namespace quovix {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes asked of the stream at a time.
constexpr size_t kReadChunk = 16384;

struct State {
  const HttpLimits* Limits = nullptr;
  Http2Answer* Answer = nullptr;
  bool WantBody = false;
  int32_t StreamId = -1;
  int Status = 0;
  std::vector<std::string> Lines;  // of the header block being received
  int Interim = 0;
  bool HeadDone = false;  // the final answer's header block is complete
  bool Closed = false;    // our stream has ended
  uint32_t CloseError = 0;
  std::string Broken;     // the cap a callback found broken
  bool GoawayReceived = false;
  std::string LibraryError;  // what libnghttp2 found wrong in the server's frames
};

State& Of(void* user) { return *static_cast<State*>(user); }

int OnBeginHeaders(nghttp2_session*, const nghttp2_frame* frame, void* user) {
  State& s = Of(user);
  if (frame->hd.type == NGHTTP2_HEADERS && frame->hd.stream_id == s.StreamId && !s.Answer->FirstHeaders)
    s.Answer->FirstHeaders = Clock::now();
  return 0;
}

int OnHeader(nghttp2_session*, const nghttp2_frame* frame, const uint8_t* name, size_t nameLength,
             const uint8_t* value, size_t valueLength, uint8_t, void* user) {
  State& s = Of(user);
  // Trailers after the answer's head and other streams' headers are not ours to show.
  if (frame->hd.stream_id != s.StreamId || s.HeadDone) return 0;
  const std::string n(reinterpret_cast<const char*>(name), nameLength);
  if (n == ":status") {
    // libnghttp2 has checked it is three digits.
    s.Status = 0;
    for (size_t i = 0; i < valueLength && i < 3; ++i) s.Status = s.Status * 10 + (value[i] - '0');
    return 0;
  }
  if (!n.empty() && n[0] == ':') return 0;
  if (nameLength + 2 + valueLength > s.Limits->MaxLineLength) {
    s.Broken = "header line too long";
    return NGHTTP2_ERR_CALLBACK_FAILURE;
  }
  if (s.Lines.size() >= static_cast<size_t>(s.Limits->MaxHeaderLines)) {
    s.Broken = "too many header lines";
    return NGHTTP2_ERR_CALLBACK_FAILURE;
  }
  s.Lines.push_back(n + ": " + std::string(reinterpret_cast<const char*>(value), valueLength));
  return 0;
}

int OnError(nghttp2_session*, int, const char* message, size_t length, void* user) {
  State& s = Of(user);
  if (s.LibraryError.empty()) s.LibraryError.assign(message, std::min<size_t>(length, 200));
  return 0;
}

int OnFrameRecv(nghttp2_session*, const nghttp2_frame* frame, void* user) {
  State& s = Of(user);
  if (frame->hd.type == NGHTTP2_GOAWAY) s.GoawayReceived = true;
  if (frame->hd.stream_id != s.StreamId || frame->hd.type != NGHTTP2_HEADERS || s.HeadDone ||
      !(frame->hd.flags & NGHTTP2_FLAG_END_HEADERS))
    return 0;
  if (s.Status >= 100 && s.Status <= 199) {
    // An interim answer (103 Early Hints and the like): the real one follows.
    if (++s.Interim > s.Limits->MaxInterimResponses) {
      s.Broken = "too many interim responses";
      return NGHTTP2_ERR_CALLBACK_FAILURE;
    }
    s.Lines.clear();
    s.Status = 0;
    return 0;
  }
  HttpResponseHead& head = s.Answer->Head;
  head.ResponseCode = s.Status;
  head.ResponseText = "HTTP/2 " + std::to_string(s.Status);
  head.RawHeaders = std::move(s.Lines);
  head.Complete = true;
  s.HeadDone = true;
  return 0;
}

int OnData(nghttp2_session*, uint8_t, int32_t streamId, const uint8_t* data, size_t length, void* user) {
  State& s = Of(user);
  if (streamId != s.StreamId || !s.WantBody) return 0;
  if (s.Answer->Body.size() + length > s.Limits->MaxBodyBytes) {
    s.Broken = "body too large";
    return NGHTTP2_ERR_CALLBACK_FAILURE;
  }
  s.Answer->Body.append(reinterpret_cast<const char*>(data), length);
  return 0;
}

int OnStreamClose(nghttp2_session*, int32_t streamId, uint32_t error, void* user) {
  State& s = Of(user);
  if (streamId == s.StreamId) {
    s.Closed = true;
    s.CloseError = error;
  }
  return 0;
}

struct SessionFree {
  void operator()(nghttp2_session* p) const { nghttp2_session_del(p); }
};

nghttp2_nv Nv(const std::string& name, const std::string& value) {
  return {reinterpret_cast<uint8_t*>(const_cast<char*>(name.data())),
          reinterpret_cast<uint8_t*>(const_cast<char*>(value.data())), name.size(), value.size(),
          NGHTTP2_NV_FLAG_NONE};
}

}  // namespace

void Http2Exchange(IHttpStream& stream, const Http2Request& request, const HttpLimits& limits,
                   Http2Answer& answer) {
  State s;
  s.Limits = &limits;
  s.Answer = &answer;
  s.WantBody = request.WantBody;

  nghttp2_session_callbacks* callbacks = nullptr;
  if (nghttp2_session_callbacks_new(&callbacks) != 0) throw HttpError::Malformed("out of memory");
  nghttp2_session_callbacks_set_on_begin_headers_callback(callbacks, OnBeginHeaders);
  nghttp2_session_callbacks_set_on_header_callback(callbacks, OnHeader);
  nghttp2_session_callbacks_set_on_frame_recv_callback(callbacks, OnFrameRecv);
  nghttp2_session_callbacks_set_on_data_chunk_recv_callback(callbacks, OnData);
  nghttp2_session_callbacks_set_on_stream_close_callback(callbacks, OnStreamClose);
  nghttp2_session_callbacks_set_error_callback2(callbacks, OnError);
  nghttp2_session* raw = nullptr;
  const int made = nghttp2_session_client_new(&raw, callbacks, &s);
  nghttp2_session_callbacks_del(callbacks);
  if (made != 0) throw HttpError::Malformed("out of memory");
  const std::unique_ptr<nghttp2_session, SessionFree> session(raw);

  // No pushed streams; a header block no larger than the caps allow.
  const nghttp2_settings_entry settings[] = {
      {NGHTTP2_SETTINGS_ENABLE_PUSH, 0},
      {NGHTTP2_SETTINGS_MAX_HEADER_LIST_SIZE,
       static_cast<uint32_t>(limits.MaxLineLength * static_cast<size_t>(limits.MaxHeaderLines))}};
  nghttp2_submit_settings(raw, NGHTTP2_FLAG_NONE, settings, 2);

  std::vector<std::pair<std::string, std::string>> fields{{":method", request.Method},
                                                          {":scheme", request.Scheme},
                                                          {":authority", request.Authority},
                                                          {":path", request.Path}};
  for (const auto& h : request.Headers)
    if (!h.second.empty()) fields.push_back(h);
  std::vector<nghttp2_nv> nv;
  for (const auto& [name, value] : fields) nv.push_back(Nv(name, value));
  s.StreamId = nghttp2_submit_request(raw, nullptr, nv.data(), nv.size(), nullptr, nullptr);
  if (s.StreamId < 0) throw HttpError::Malformed(nghttp2_strerror(s.StreamId));

  // What arrived before a failure stays visible to the caller.
  auto partial = [&] {
    if (!s.HeadDone && s.Status != 0) {
      answer.Head.ResponseCode = s.Status;
      answer.Head.ResponseText = "HTTP/2 " + std::to_string(s.Status);
      answer.Head.RawHeaders = s.Lines;
    }
  };
  for (;;) {
    std::string out;
    for (;;) {
      const uint8_t* data = nullptr;
      const ssize_t n = nghttp2_session_mem_send(raw, &data);
      if (n < 0) throw HttpError::Malformed(nghttp2_strerror(static_cast<int>(n)));
      if (n == 0) break;
      out.append(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
    }
    if (!out.empty()) stream.Write(out);
    if (s.Closed) {
      if (!s.HeadDone || (s.WantBody && s.CloseError != NGHTTP2_NO_ERROR)) {
        partial();
        throw HttpError::Malformed("the server reset the stream (" +
                                   std::string(nghttp2_http2_strerror(s.CloseError)) + ")");
      }
      return;
    }
    if (s.HeadDone && !s.WantBody) return;
    if (!nghttp2_session_want_read(raw)) {
      partial();
      // The server said goodbye, or libnghttp2 ended the connection over
      // frames that break HTTP/2.
      if (s.GoawayReceived) throw HttpError(HttpError::Kind::Closed, "Connection Closed Gracefully.");
      throw HttpError::Malformed("HTTP/2: " + (s.LibraryError.empty() ? std::string("protocol error") : s.LibraryError));
    }
    char buf[kReadChunk];
    const size_t got = stream.Read(buf, sizeof buf);
    if (got == 0) {
      partial();
      throw HttpError(HttpError::Kind::Closed, "Connection Closed Gracefully.");
    }
    const ssize_t used = nghttp2_session_mem_recv(raw, reinterpret_cast<const uint8_t*>(buf), got);
    if (used < 0) {
      partial();
      throw HttpError::Malformed(!s.Broken.empty() ? s.Broken : nghttp2_strerror(static_cast<int>(used)));
    }
  }
}

}  // namespace quovix
