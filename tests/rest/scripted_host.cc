#include "scripted_host.h"

#include <algorithm>
#include <cstring>

#include "binding/host_value_conversion.h"
#include "codecs/json.h"

namespace Tesk::Testing {

namespace {

template <class Record>
std::vector<uint8_t> BytesOf(const Record& record) {
  std::vector<uint8_t> bytes(sizeof(Record));
  std::memcpy(bytes.data(), &record, sizeof(Record));
  return bytes;
}

uint8_t KTX_HOST_CALL ReadChunk(void* stream, char* buffer, uint32_t* size, uint8_t* moreData) {
  auto& scripted = *static_cast<ScriptedStream*>(stream);
  if (scripted.log != nullptr) scripted.log->push_back("read " + std::to_string(*size));
  if (scripted.next >= scripted.chunks.size()) return 0;
  const ScriptedStream::Chunk& chunk = scripted.chunks[scripted.next++];
  if (chunk.fails) return 0;
  std::memcpy(buffer, chunk.bytes.data(), std::min<size_t>(chunk.bytes.size(), *size));
  *size = chunk.claimedSize != 0 ? chunk.claimedSize : static_cast<uint32_t>(chunk.bytes.size());
  *moreData = chunk.moreData ? 1 : 0;
  return 1;
}

void KTX_HOST_CALL ReleaseStream(void* stream) {
  auto& scripted = *static_cast<ScriptedStream*>(stream);
  ++scripted.releases;
  if (scripted.log != nullptr) scripted.log->push_back("stream release");
}

int releaseCount = 0;
std::vector<std::string>* releaseLog = nullptr;

void CountRelease() {
  ++releaseCount;
  if (releaseLog != nullptr) releaseLog->push_back("response release");
}
void KTX_HOST_CALL ReleaseResponse(ResponseRecord*) { CountRelease(); }
void KTX_HOST_CALL ReleaseHttpResponse(HttpResponseRecord*) { CountRelease(); }

}  // namespace

void ScriptedHost::ApiRequest(ResponseRecord* response, const ApiRequestRecord* request) {
  RecordedApiRequest recorded;
  recorded.bytes = BytesOf(*request);
  recorded.record = *request;
  recorded.url = request->url != nullptr ? request->url : "<null>";
  for (uint32_t index = 0; request->arguments != nullptr && index < request->argumentCount;
       ++index) {
    const HostArgument& argument = request->arguments[index];
    std::optional<std::string> name;
    if (argument.name != nullptr) name = argument.name;
    HostValueConversion value = FromHostValue(argument.value, "argument", nullptr);
    recorded.arguments.emplace_back(name, WriteJson(value.value));
    if (index == 0) recorded.argumentTag = argument.value.tag;
  }
  apiRequests.push_back(std::move(recorded));
  if (apiAnswer) apiAnswer(*response);
}

void ScriptedHost::HttpRequest(HttpResponseRecord* response, const HttpRequestRecord* request) {
  RecordedHttpRequest recorded;
  recorded.bytes = BytesOf(*request);
  recorded.record = *request;
  recorded.url = request->url != nullptr ? request->url : "<null>";
  for (uint32_t index = 0; request->headers != nullptr && index < request->headerCount; ++index) {
    recorded.headers.emplace_back(request->headers[index].name, request->headers[index].value);
  }
  if (request->body != nullptr) recorded.body.emplace(request->body, request->bodyLength);
  recorded.responseIsTheCallers = request->response == response;
  httpRequests.push_back(std::move(recorded));
  if (httpAnswer) httpAnswer(*response);
}

void ScriptedStream::Attach(ResponseRecord& response, uint32_t sizeHint) {
  response.stream = this;
  response.streamRead = &ReadChunk;
  response.streamRelease = &ReleaseStream;
  response.streamSizeHint = sizeHint;
}

ReleaseCounter::ReleaseCounter(std::vector<std::string>* log) {
  releaseCount = 0;
  releaseLog = log;
}

ReleaseCounter::~ReleaseCounter() { releaseLog = nullptr; }

int ReleaseCounter::count() const { return releaseCount; }

void ReleaseCounter::Reset() { releaseCount = 0; }

void ReleaseCounter::Attach(ResponseRecord& response) const { response.release = &ReleaseResponse; }

void ReleaseCounter::Attach(HttpResponseRecord& response) const {
  response.release = &ReleaseHttpResponse;
}

}  // namespace Tesk::Testing
