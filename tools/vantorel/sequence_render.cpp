#include "sequence_render.h"

#include "session.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vantorel {

namespace {

class SequenceRender {
public:
  SequenceRender(Session &session, const FramePlan &plan,
                 const RenderOptions &options, Progress &progress)
      : session_(session), plan_(plan), options_(options), progress_(progress) {
  }

  bool run(std::string *error) {
    const int workers =
        static_cast<int>(std::min<long long>(options_.jobs, plan_.count()));
    std::vector<std::thread> threads;
    for (int i = 1; i < workers; ++i)
      threads.emplace_back([this] { work(); });
    work();
    for (std::thread &thread : threads)
      thread.join();
    if (!failed_)
      return true;
    *error = error_;
    if (plan_.inPattern.present)
      *error += committed_ == 0
                    ? "; no frame was written"
                    : "; frames " + std::to_string(plan_.first) + "-" +
                          std::to_string(plan_.first + committed_ - 1) +
                          " were written and are complete";
    return false;
  }

private:
  void work() {
    for (;;) {
      long long index = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_ || next_ >= plan_.count())
          return;
        index = next_++;
      }
      std::string error;
      Frame frame;
      std::unique_ptr<EncodedImage> file =
          renderOne(plan_.job(index), &frame, &error);
      std::unique_lock<std::mutex> lock(mutex_);
      turn_.wait(lock, [&] { return failed_ || committed_ == index; });
      if (failed_)
        return; // `file` removes its temporary file as it goes
      // Only this frame's worker is past the wait until committed_ moves:
      // the others take and render frames meanwhile.
      lock.unlock();
      const bool placed = file && file->place(&error);
      lock.lock();
      if (!placed) {
        failed_ = true;
        error_ = error;
      } else {
        ++committed_;
        progress_.frameDone(frame, file->alphaAdded());
      }
      turn_.notify_all();
    }
  }

  // Reads, renders and encodes one frame; *frame keeps its size and depth.
  std::unique_ptr<EncodedImage> renderOne(const FrameJob &job, Frame *frame,
                                          std::string *error) {
    ImageHeader header;
    if (!readImage(job.in, options_.depth, frame, &header, error))
      return nullptr;
    {
      std::lock_guard<std::mutex> lock(renderMutex_);
      if (!session_.render(*frame, job.time, error))
        return nullptr;
    }
    auto file =
        encodeImage(job.out, *frame,
                    {options_.outType, &header, options_.comparePixels}, error);
    std::vector<std::uint8_t>().swap(frame->bytes);
    std::vector<float>().swap(frame->floats);
    return file;
  }

  Session &session_;
  const FramePlan &plan_;
  const RenderOptions &options_;
  Progress &progress_;
  std::mutex mutex_, renderMutex_;
  std::condition_variable turn_;
  long long next_ = 0, committed_ = 0;
  bool failed_ = false;
  std::string error_;
};

} // namespace

bool renderFrames(Session &session, const FramePlan &plan,
                  const RenderOptions &options, Progress &progress,
                  std::string *error) {
  return SequenceRender(session, plan, options, progress).run(error);
}

} // namespace vantorel
