// Pictures and raw frames written to disk off the capture's own threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/imaging/png_file.h"
#include "sim/imaging/rgb_image.h"

namespace zyn::capture {

// Writes pictures and raw frames on a thread of its own, so the client hands its frames back
// to the driver at once.
class FileWriter {
public:
    FileWriter() : thread_([this] { Loop(); }) {}
    ~FileWriter() { Finish(); }

    void Picture(std::string path, imaging::RgbImage picture) {
        Push(Job{std::move(path), std::move(picture), {}});
    }
    void Bytes(std::string path, std::vector<uint8_t> bytes) {
        Push(Job{std::move(path), {}, std::move(bytes)});
    }
    // Waits for every file; the first error, if any.
    std::string Finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
        return error_;
    }

private:
    static constexpr size_t kMaxJobs = 64;

    struct Job {
        std::string path;
        imaging::RgbImage picture;
        std::vector<uint8_t> bytes;
    };

    void Push(Job job) {
        std::unique_lock<std::mutex> lock(mutex_);
        // Pictures compress slower than a camera delivers them; up to this many wait in memory
        // (a few hundred megabytes) before a slow disk slows the capture.
        room_.wait(lock, [this] { return jobs_.size() < kMaxJobs; });
        jobs_.push_back(std::move(job));
        wake_.notify_all();
    }

    void Loop() {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return done_ || !jobs_.empty(); });
                if (jobs_.empty()) {
                    return;
                }
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            room_.notify_all();
            std::string error;
            if (job.picture.width > 0) {
                imaging::WritePng(job.path, job.picture, error);
            } else {
                std::ofstream file(job.path, std::ios::binary);
                file.write(reinterpret_cast<const char*>(job.bytes.data()),
                           static_cast<std::streamsize>(job.bytes.size()));
                if (!file) {
                    error = "cannot write " + job.path;
                }
            }
            if (!error.empty()) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (error_.empty()) {
                    error_ = error;
                }
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable room_;
    std::deque<Job> jobs_;
    bool done_ = false;
    std::string error_;
    std::thread thread_;
};

} // namespace zyn::capture
