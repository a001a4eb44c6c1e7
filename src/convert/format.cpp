#include "convert/format.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "text/comma_text.h"
#include "text/failure.h"

namespace kelconv {
namespace {

constexpr int kEntryLinesPerPage = 10;
// "[", a page number of up to 19 digits, "]".
constexpr std::size_t kMaxPageLineSize = 21;

// Writes the format 2.00 form of one entry line: each field quoted, joined by commas; a line
// without fields stays empty.
void WriteEntryLine(std::string_view line, const LeadBytes& lead_bytes, LineWriter& out) {
  // Free slots are the most common entry lines of all.
  if (line.empty()) return out.EndLine();
  out.Advance(WriteQuotedFields(line, lead_bytes, out.Reserve(QuotedFieldsSizeLimit(line.size()))));
  out.EndLine();
}

// Writes the page sections of pages `first_page` to `end_page` - 1, whose entry lines begin
// `entry_text`.
void WritePageSections(std::int64_t first_page, std::int64_t end_page, std::string_view entry_text,
                       const LeadBytes& lead_bytes, LineWriter& out) {
  LineReader entries(entry_text);
  std::string_view line;
  for (std::int64_t page = first_page; page < end_page; ++page) {
    char* const number = out.Reserve(kMaxPageLineSize);
    *number = '[';
    char* const number_end = std::to_chars(number + 1, number + kMaxPageLineSize, page).ptr;
    *number_end = ']';
    out.Advance(number_end + 1);
    out.EndLine();
    for (int row = 0; row < kEntryLinesPerPage; ++row) {
      entries.Next(line);
      WriteEntryLine(line, lead_bytes, out);
    }
  }
}

// Writes the parts of the page sections on two threads: each thread takes the next part not
// taken, makes it in a buffer of its own and hands it to `out` in its turn, so while one
// thread waits for the system to take its bytes the other one goes on converting.
class PartWriter {
 public:
  PartWriter(const Format100Data& data, const LeadBytes& lead_bytes, LineWriter& out)
      : data_(data), lead_bytes_(lead_bytes), out_(out) {}

  // Writes all parts and returns true; raises the first failure of either thread. Returns
  // false, having written nothing, when there is no second thread or no memory for the two
  // buffers: the second thread only speeds the conversion up, it must not make it fail.
  bool Run() {
    std::unique_ptr<Worker> mine;
    std::unique_ptr<Worker> theirs;
    std::thread helper;
    try {
      mine = std::make_unique<Worker>(*this);
      theirs = std::make_unique<Worker>(*this);
      helper = std::thread([this, &theirs] { Work(*theirs); });
    } catch (const std::bad_alloc&) {
      return false;
    } catch (const std::system_error&) {
      return false;
    }
    Work(*mine);
    helper.join();
    if (failure_) std::rethrow_exception(failure_);
    return true;
  }

 private:
  // Thrown in a thread that waits for its turn when the other thread has failed.
  struct Stopped {};

  // Collects one thread's bytes of the part it is making; they go out in the part's turn.
  class PartSink : public ByteSink {
   public:
    explicit PartSink(PartWriter& owner) : owner_(owner) {}
    void Append(std::string_view bytes) override { owner_.WriteInTurn(part, bytes); }
    std::size_t part = 0;

   private:
    PartWriter& owner_;
  };

  // What one thread writes with.
  struct Worker {
    explicit Worker(PartWriter& owner) : sink(owner), writer(sink) {}
    PartSink sink;
    LineWriter writer;
  };

  void Work(Worker& worker) {
    try {
      const std::vector<std::size_t>& starts = data_.part_starts;
      for (std::size_t part; (part = next_part_++) < starts.size();) {
        worker.sink.part = part;
        const auto first_page = static_cast<std::int64_t>(part) * kPagesPerPart;
        WritePageSections(first_page, std::min(first_page + kPagesPerPart, data_.page_count),
                          data_.entry_text.substr(starts[part]), lead_bytes_, worker.writer);
        worker.writer.Flush();
        EndTurn(part);
      }
    } catch (const Stopped&) {
      // The other thread failed; its failure is the one reported.
    } catch (...) {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
      turn_changed_.notify_all();
    }
  }

  void WriteInTurn(std::size_t part, std::string_view bytes) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      turn_changed_.wait(lock, [&] { return turn_ == part || failure_; });
      if (failure_) throw Stopped();
    }
    // Until this part's turn ends, no other thread touches `out_`.
    out_.Append(bytes);
  }

  void EndTurn(std::size_t part) {
    const std::lock_guard<std::mutex> lock(mutex_);
    turn_ = part + 1;
    turn_changed_.notify_all();
  }

  const Format100Data& data_;
  const LeadBytes& lead_bytes_;
  LineWriter& out_;
  std::atomic<std::size_t> next_part_ = 0;
  std::mutex mutex_;
  std::condition_variable turn_changed_;
  std::size_t turn_ = 0;        // the part whose bytes go out now
  std::exception_ptr failure_;  // the first failure of either thread
};

}  // namespace

Format100Data LayOutFormat100(std::string_view list_bytes, std::string_view page_bytes) {
  Format100Data data;
  data.page_text = page_bytes;
  data.page_count = CountLines(page_bytes);

  LineReader list(list_bytes);
  std::string_view header;
  if (!list.Next(header)) RaiseIndexError(0);
  const std::string_view entries = list.rest();
  const std::int64_t needed = kEntryLinesPerPage * data.page_count;
  constexpr std::int64_t kLinesPerPart = kEntryLinesPerPage * kPagesPerPart;
  data.part_starts.reserve(
      static_cast<std::size_t>((data.page_count + kPagesPerPart - 1) / kPagesPerPart));
  std::int64_t found = 0;
  while (found < needed) {
    data.part_starts.push_back(entries.size() - list.rest().size());
    const std::int64_t wanted = std::min(kLinesPerPart, needed - found);
    const std::int64_t skipped = list.Skip(wanted);
    found += skipped;
    if (skipped < wanted) break;
  }
  if (found < needed) RaiseIndexError(static_cast<int>(found % kEntryLinesPerPage));
  data.entry_text = entries.substr(0, entries.size() - list.rest().size());
  return data;
}

void WriteFormat200(const Format100Data& data, const LeadBytes& lead_bytes, LineWriter& out) {
  out.WriteLine(kFormat200Header);
  out.WriteLine(std::to_string(data.page_count));

  LineReader pages(data.page_text);
  std::string_view line;
  while (pages.Next(line)) {
    out.Append(line);
    out.Append(",10");
    out.EndLine();
  }

  if (data.part_starts.size() <= 1 || !PartWriter(data, lead_bytes, out).Run()) {
    WritePageSections(0, data.page_count, data.entry_text, lead_bytes, out);
  }
  out.WriteLine("**");
  out.Flush();
}

}  // namespace kelconv
