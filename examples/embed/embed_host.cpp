// A SystemC host of its own that drives the quorsim cube through the host
// controller's TLM-2.0 socket: a few reads and writes spread over the links,
// each answer printed as it comes back. docs/embedding.md explains the steps.
//
//   embed_host [config file] [KEY=VALUE ...]
#include <quor2_quor_controller.h>
#include <quor2_quor_wrapper.h>
#include <quor2_run_end.h>
#include <quor2_utils.h>

#include <systemc>
#include <tlm>
#include <tlm_utils/simple_initiator_socket.h>

#include <array>
#include <cstdint>
#include <iostream>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quor = Orvane::Internal::QUOR2;

namespace {

// Every payload comes from here and comes back here when its last holder
// releases it. The controller itself releases a posted write once its header
// is on the link, so a payload without a manager ends the host with
// "assertion failed: m_mm != 0".
class PayloadPool : public tlm::tlm_mm_interface {
public:
  PayloadPool() = default;
  PayloadPool(const PayloadPool&) = delete;
  PayloadPool& operator=(const PayloadPool&) = delete;
  ~PayloadPool() override {
    for (auto* payload : made_) delete payload;
  }

  tlm::tlm_generic_payload* allocate() {
    if (free_.empty()) {
      made_.push_back(new tlm::tlm_generic_payload(this));
      return made_.back();
    }
    tlm::tlm_generic_payload* payload = free_.back();
    free_.pop_back();
    return payload;
  }
  void free(tlm::tlm_generic_payload* payload) override {
    payload->reset();
    free_.push_back(payload);
  }
  std::size_t InFlight() const { return made_.size() - free_.size(); }

private:
  std::vector<tlm::tlm_generic_payload*> made_;
  std::vector<tlm::tlm_generic_payload*> free_;
};

struct Request {
  tlm::tlm_command command;
  uint64_t address;
  unsigned length;  // 16, 32, ..., 128 bytes
  unsigned link;    // travels in the streaming width
};

// Address of the first byte of `row` in `vault` under mapping scheme 0. Fields
// from bit 0 up: byte offset and low column (one MAX_BLOCK_SIZE block), vault,
// bank, partition, high column, row. Bank, partition and column stay 0 here.
uint64_t AddressOf(const quor::Config& cfg, unsigned vault, unsigned row) {
  const unsigned blockBits = quor::log2(cfg.MAX_BLOCK_SIZE);
  const unsigned vaultBits = quor::log2(cfg.NUM_VAULTS);
  const unsigned bankBits = quor::log2(cfg.NUM_BANKS) + quor::log2(cfg.NUM_PARTITIONS);
  const unsigned colHighBits =
      quor::log2(cfg.NUM_COLS) + quor::log2(cfg.BYTE_OFFSET) - blockBits;
  const unsigned rowShift = blockBits + vaultBits + bankBits + colHighBits;
  return (uint64_t{row} << rowShift) | (uint64_t{vault} << blockBits);
}

// On every link: a read of its own quad, a write to the next quad, a short read
// two quads on (the cube carries remote requests across its crossbars).
std::vector<Request> SomeRequests(const quor::Config& cfg) {
  std::vector<Request> requests;
  for (unsigned link = 0; link < cfg.NUM_LINKS; ++link) {
    const unsigned local = link * cfg.VAULTS_PER_QUAD;
    const unsigned next = (local + cfg.VAULTS_PER_QUAD + 1) % cfg.NUM_VAULTS;
    const unsigned far = (local + 2 * cfg.VAULTS_PER_QUAD + 2) % cfg.NUM_VAULTS;
    requests.push_back({tlm::TLM_READ_COMMAND, AddressOf(cfg, local, 7), 64, link});
    requests.push_back({tlm::TLM_WRITE_COMMAND, AddressOf(cfg, next, 9), 128, link});
    requests.push_back({tlm::TLM_READ_COMMAND, AddressOf(cfg, far, 11), 16, link});
  }
  return requests;
}

const char* CommandName(const tlm::tlm_generic_payload& trans) {
  return trans.is_read() ? "read " : "write";
}

class Host : public sc_core::sc_module {
public:
  tlm_utils::simple_initiator_socket<Host, 32> socket;

  SC_HAS_PROCESS(Host);
  Host(sc_core::sc_module_name name, std::vector<Request> requests, bool postedWrites)
      : sc_core::sc_module(name), socket("socket"), requests_(std::move(requests)),
        data_(requests_.size()) {
    for (const Request& r : requests_)
      if (r.command == tlm::TLM_READ_COMMAND || !postedWrites) ++awaited_;
    socket.register_nb_transport_bw(this, &Host::nb_transport_bw);
    SC_THREAD(Send);
  }

  std::size_t Awaited() const { return awaited_; }
  std::size_t Answered() const { return answered_; }
  std::size_t PayloadsInFlight() const { return pool_.InFlight(); }

private:
  std::vector<Request> requests_;
  std::vector<std::array<unsigned char, 128>> data_;
  PayloadPool pool_;
  std::map<const tlm::tlm_generic_payload*, sc_core::sc_time> issuedAt_;
  std::size_t awaited_ = 0;
  std::size_t answered_ = 0;
  sc_core::sc_event requestEnded_;

  // One request at a time through the request phase, as the base protocol
  // asks: the next BEGIN_REQ goes once the controller has ended this one.
  void Send() {
    for (std::size_t i = 0; i < requests_.size(); ++i) {
      tlm::tlm_generic_payload* trans = Fill(pool_.allocate(), i);
      trans->acquire();
      issuedAt_[trans] = sc_core::sc_time_stamp();
      tlm::tlm_phase phase = tlm::BEGIN_REQ;
      sc_core::sc_time delay = sc_core::SC_ZERO_TIME;
      const tlm::tlm_sync_enum status = socket->nb_transport_fw(*trans, phase, delay);
      if (status == tlm::TLM_UPDATED)
        sc_core::wait(delay);  // END_REQ: taken in
      else
        sc_core::wait(requestEnded_);  // TLM_ACCEPTED: parked until END_REQ comes back
    }
    if (answered_ == awaited_) sc_core::sc_pause();
  }

  tlm::tlm_generic_payload* Fill(tlm::tlm_generic_payload* trans, std::size_t i) {
    const Request& r = requests_[i];
    trans->set_command(r.command);
    trans->set_address(r.address);
    trans->set_data_length(r.length);
    trans->set_data_ptr(data_[i].data());  // the model moves no data
    trans->set_streaming_width(r.link);
    // The controller reads the byte-enable length as idle flits to send before
    // the packet; no byte enables.
    trans->set_byte_enable_ptr(nullptr);
    trans->set_byte_enable_length(0);
    trans->set_response_status(tlm::TLM_INCOMPLETE_RESPONSE);
    return trans;
  }

  tlm::tlm_sync_enum nb_transport_bw(tlm::tlm_generic_payload& trans, tlm::tlm_phase& phase,
                                     sc_core::sc_time& delay) {
    if (phase == tlm::END_REQ) {
      requestEnded_.notify(sc_core::SC_ZERO_TIME);
      return tlm::TLM_ACCEPTED;
    }
    if (phase == tlm::BEGIN_RESP) {
      PrintAnswer(trans);
      issuedAt_.erase(&trans);
      trans.release();
      if (++answered_ == awaited_) sc_core::sc_pause();
      delay = sc_core::SC_ZERO_TIME;  // the next answer may come at once
      return tlm::TLM_COMPLETED;
    }
    return tlm::TLM_ACCEPTED;
  }

  void PrintAnswer(const tlm::tlm_generic_payload& trans) const {
    const sc_core::sc_time now = sc_core::sc_time_stamp();
    std::cout << "answer at " << now << ": " << CommandName(trans) << " " << trans.get_data_length()
              << " B at 0x" << std::hex << trans.get_address() << std::dec << " on link "
              << trans.get_streaming_width() << ", after " << now - issuedAt_.at(&trans)
              << std::endl;
  }
};

} // namespace

int sc_main(int argc, char** argv) {
  // The configuration as quorsim reads it: defaults, the file, KEY=VALUE
  // overrides, then derived keys and validation (finish exits 1 on an error).
  quor::Config cfg;
  quor::IniReader reader(true, false);
  int arg = 1;
  if (arg < argc && std::string(argv[arg]).find('=') == std::string::npos)
    reader.readFile(argv[arg++], cfg);
  std::string error;
  for (; arg < argc; ++arg) {
    const std::string text = argv[arg];
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos ||
        !reader.setOption(text.substr(0, eq), text.substr(eq + 1), "command line", cfg, error)) {
      std::cerr << "embed_host: " << (error.empty() ? "not KEY=VALUE: " + text : error)
                << std::endl;
      return 1;
    }
  }
  // One initiator, so one controller socket; each socket must be bound.
  reader.setOption("NUM_GENERATORS", "1", "embed_host", cfg, error);
  reader.finish(cfg);

  quor::quor2_quor_wrapper* cube = quor::GetQUORWrapper(cfg);
  Host host("host", SomeRequests(cfg), cfg.POSTED_WRITES);
  host.socket.bind(*cube->GetControllerSockets()[0]);

  sc_core::sc_start(cfg.SIM_TIME);  // the host pauses the kernel at its last answer
  const bool allAnswered = host.Answered() == host.Awaited();
  // Let posted writes, tokens and credits settle; then every tag and token
  // must be home.
  const bool atRest = allAnswered && quor::SettleAndCheckAtRest(cfg, *cube->controller, *cube->cube);
  std::cout << host.Answered() << " of " << host.Awaited() << " answers by "
            << sc_core::sc_time_stamp() << ", " << host.PayloadsInFlight()
            << " payloads still out" << std::endl;
  return allAnswered && atRest && host.PayloadsInFlight() == 0 ? 0 : 1;
}
