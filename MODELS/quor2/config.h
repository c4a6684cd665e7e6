// The one key table of the configuration record. Each entry is
//   QUOR_KEY(type, NAME, default)
// and the record's members, their defaults, the reader's typed reads and the
// printer's lines are all generated from it, in this order. Times are given in
// nanoseconds. Derived keys carry a zero default here; Config computes them from
// the defaults of the keys their formula names.
//
// No include guard: the including code defines QUOR_KEY before each inclusion.

// Testbench and traffic
QUOR_KEY(sc_time, SIM_TIME, QUOR_NS(100000))
QUOR_KEY(unsigned, NUM_GENERATORS, 4)
QUOR_KEY(unsigned, NUM_REQUESTS, 1000000)
QUOR_KEY(bool, ALIGNED_32B, true)
QUOR_KEY(unsigned, USE_ATOMICS, 0)
QUOR_KEY(unsigned, ATOMICS_PERCENTAGE, 0)
QUOR_KEY(bool, USE_TRACE, false)
QUOR_KEY(string, TRACE_FILENAME_0, "traces/test.txt")
QUOR_KEY(string, TRACE_FILENAME_1, "traces/test.txt")
QUOR_KEY(string, TRACE_FILENAME_2, "traces/test.txt")
QUOR_KEY(string, TRACE_FILENAME_3, "traces/test.txt")
QUOR_KEY(bool, TRACE_DEBUG, false)
QUOR_KEY(bool, DUMP_STATE, false)
QUOR_KEY(bool, DUMP_STATS_FILE, false)
QUOR_KEY(string, STATS_FILENAME, "stats.txt")
QUOR_KEY(unsigned, REQUEST_STREAM, 0)
QUOR_KEY(unsigned, PERCENTAGE_READ, 50)
QUOR_KEY(unsigned, PERCENTAGE_RD_16B, 0)
QUOR_KEY(unsigned, PERCENTAGE_RD_32B, 0)
QUOR_KEY(unsigned, PERCENTAGE_RD_48B, 0)
QUOR_KEY(unsigned, PERCENTAGE_RD_64B, 100)
QUOR_KEY(unsigned, PERCENTAGE_RD_80B, 0)
QUOR_KEY(unsigned, PERCENTAGE_RD_96B, 0)
QUOR_KEY(unsigned, PERCENTAGE_RD_112B, 0)
QUOR_KEY(unsigned, PERCENTAGE_RD_128B, 0)
QUOR_KEY(unsigned, PERCENTAGE_WR_16B, 0)
QUOR_KEY(unsigned, PERCENTAGE_WR_32B, 0)
QUOR_KEY(unsigned, PERCENTAGE_WR_48B, 0)
QUOR_KEY(unsigned, PERCENTAGE_WR_64B, 100)
QUOR_KEY(unsigned, PERCENTAGE_WR_80B, 0)
QUOR_KEY(unsigned, PERCENTAGE_WR_96B, 0)
QUOR_KEY(unsigned, PERCENTAGE_WR_112B, 0)
QUOR_KEY(unsigned, PERCENTAGE_WR_128B, 0)
// Host controller
QUOR_KEY(unsigned, REQUEST_BUFFER_SIZE, 384)
QUOR_KEY(unsigned, TAGS_PER_LINK, 512)
QUOR_KEY(unsigned, TOKENS_PER_LINK, 100)
QUOR_KEY(unsigned, REQUEST_SPACING, 0)
QUOR_KEY(bool, POSTED_WRITES, false)
QUOR_KEY(bool, RESPONSE_OPEN_LOOP, false)
QUOR_KEY(unsigned, HOST_MAPPING, 2)
// Cube geometry and links
QUOR_KEY(unsigned, NUM_QUADS, 4)
QUOR_KEY(unsigned, VAULTS_PER_QUAD, 4)
QUOR_KEY(unsigned, NUM_LINKS, 4)
QUOR_KEY(unsigned, NUM_VAULTS, 16)
QUOR_KEY(sc_time, CORE_CLK, QUOR_NS(1.6))
QUOR_KEY(unsigned, MAX_TOKEN_RETURN, 31)
QUOR_KEY(unsigned, FLIT_SIZE, 16)
QUOR_KEY(unsigned, FLITS_PER_CYCLE_LINK, 3)
QUOR_KEY(float, LINK_SPEED, 15.0f)
QUOR_KEY(unsigned, LINK_0_WIDTH, 16)
QUOR_KEY(unsigned, LINK_1_WIDTH, 16)
QUOR_KEY(unsigned, LINK_2_WIDTH, 16)
QUOR_KEY(unsigned, LINK_3_WIDTH, 16)
QUOR_KEY(unsigned, LINK_MASTER_BUFFER_SIZE, 32)
QUOR_KEY(unsigned, LINK_INPUT_DELAY, 4)
QUOR_KEY(unsigned, LINK_OUTPUT_DELAY, 5)
QUOR_KEY(unsigned, CREDIT_RETURN_DELAY_LM, 2)
// Link switch
QUOR_KEY(unsigned, LSW_INPUT_BUFFER_SIZE, 57)
QUOR_KEY(unsigned, LSW_INPUT_BUFFER_THRESHOLD, 33)
QUOR_KEY(unsigned, LSW_INTERQUAD_BUFFER_SIZE, 15)
QUOR_KEY(unsigned, PACK_INTERQUAD, 0)
QUOR_KEY(unsigned, FLITS_PER_CYCLE_LSW, 3)
QUOR_KEY(unsigned, FLITS_PER_CYCLE_LSW_REMOTE, 3)
QUOR_KEY(unsigned, BUSY_SIGNAL_DELAY, 6)
QUOR_KEY(unsigned, LSW_INPUT_DELAY, 4)
QUOR_KEY(unsigned, LSW_INTERQUAD_DELAY, 5)
QUOR_KEY(unsigned, TOKEN_RETURN_DELAY_LSW, 4)
QUOR_KEY(unsigned, CREDIT_RETURN_DELAY_LSW, 6)
QUOR_KEY(unsigned, EARLY_CREDIT_RETURN_DELAY_LSW, 2)
QUOR_KEY(unsigned, THROTTLE_STALL_TIME, 3)
QUOR_KEY(unsigned, CREDIT_THROTTLE_VC, 8)
QUOR_KEY(unsigned, CREDIT_THROTTLE_LSW, 8)
// Vault switch
QUOR_KEY(unsigned, VSW_RESPONSE_BUFFER_SIZE, 61)
QUOR_KEY(unsigned, VSW_RESPONSE_BUFFER_THRESHOLD, 32)
QUOR_KEY(unsigned, VSW_INTERQUAD_BUFFER_SIZE, 42)
QUOR_KEY(unsigned, VSW_INTERQUAD_BUFFER_THRESHOLD, 21)
QUOR_KEY(unsigned, FLITS_PER_CYCLE_VSW, 3)
QUOR_KEY(unsigned, SMOOTHING_BUFFER_LM_SIZE, 12)
QUOR_KEY(unsigned, SMOOTHING_BUFFER_Q_SIZE, 9)
QUOR_KEY(sc_time, BUFFER_PRIORITY_TIME, QUOR_NS(0))
QUOR_KEY(sc_time, BUFFER_PRIORITY_WAIT, QUOR_NS(0))
QUOR_KEY(unsigned, VSW_LATCH_DELAY, 6)
QUOR_KEY(unsigned, VSW_INTERQUAD_LATCH_DELAY, 3)
QUOR_KEY(unsigned, VSW_INTERQUAD_LATCH_DELAY_Z, 4)
QUOR_KEY(unsigned, CREDIT_RETURN_DELAY_VSW_VC, 4)
QUOR_KEY(unsigned, CREDIT_RETURN_DELAY_VSW_VSW, 8)
QUOR_KEY(unsigned, CREDIT_RETURN_DELAY_VSW_VSW_Z, 9)
// Vault controller
QUOR_KEY(bool, DRAM_TRACING, false)
QUOR_KEY(unsigned, TRANSACTION_Q_CAPACITY, 24)
QUOR_KEY(unsigned, REQUEST_Q_CAPACITY, 4)
QUOR_KEY(unsigned, DATA_Q_CAPACITY, 53)
QUOR_KEY(unsigned, CREDITS_FOR_PROCESSING, 9)
QUOR_KEY(unsigned, FLITS_IN_PER_CYCLE_VC, 2)
QUOR_KEY(unsigned, FLITS_OUT_PER_CYCLE_VC, 2)
QUOR_KEY(unsigned, MAPPING_SCHEME, 0)
QUOR_KEY(unsigned, BYTE_OFFSET, 16)
QUOR_KEY(unsigned, COLUMN_ACCESS_LENGTH, 32)
QUOR_KEY(unsigned, MAX_BLOCK_SIZE, 128)
QUOR_KEY(unsigned, MAX_REQUEST_SIZE, 128)
QUOR_KEY(unsigned, COMMAND_CREDIT_DELAY, 3)
QUOR_KEY(unsigned, WRITE_CREDIT_DELAY, 8)
QUOR_KEY(unsigned, WRITE_CREDITS_PER_CYCLE, 2)
QUOR_KEY(unsigned, WRITE_RESPONSE_DELAY, 11)
QUOR_KEY(unsigned, MI_OUT_DELAY, 3)
QUOR_KEY(unsigned, ATOMICS_SPACING, 12)
QUOR_KEY(bool, REFRESH_ENABLED, true)
// DRAM geometry and timing
QUOR_KEY(unsigned, NUM_PARTITIONS, 2)
QUOR_KEY(unsigned, NUM_BANKS, 4)
QUOR_KEY(unsigned, TSV_WIDTH, 32)
QUOR_KEY(unsigned, Tj, 85)
QUOR_KEY(unsigned, NUM_ROWS, 8192)
QUOR_KEY(unsigned, NUM_COLS, 64)
QUOR_KEY(sc_time, UI, QUOR_NS(0.4))
QUOR_KEY(sc_time, DRAM_tCK, QUOR_NS(0))
QUOR_KEY(sc_time, BL, QUOR_NS(0))
QUOR_KEY(sc_time, tCMD, QUOR_NS(0))
QUOR_KEY(sc_time, tRAS, QUOR_NS(22.4))
QUOR_KEY(sc_time, tRP, QUOR_NS(12.8))
QUOR_KEY(sc_time, tRC, QUOR_NS(0))
QUOR_KEY(sc_time, tAA, QUOR_NS(10.8))
QUOR_KEY(sc_time, tAC, QUOR_NS(1.0))
QUOR_KEY(sc_time, tWL, QUOR_NS(9.6))
QUOR_KEY(sc_time, tRCDr, QUOR_NS(13.6))
QUOR_KEY(sc_time, tRCDw, QUOR_NS(7.2))
QUOR_KEY(sc_time, tRRD, QUOR_NS(3.2))
QUOR_KEY(sc_time, tWR, QUOR_NS(14.0))
QUOR_KEY(sc_time, tRTP, QUOR_NS(4.0))
QUOR_KEY(sc_time, tCCD, QUOR_NS(0))
QUOR_KEY(sc_time, tCCDRP, QUOR_NS(0))
QUOR_KEY(sc_time, tCCDWP, QUOR_NS(0))
QUOR_KEY(sc_time, tWTR, QUOR_NS(6.8))
QUOR_KEY(sc_time, tWTR2D, QUOR_NS(2.8))
QUOR_KEY(sc_time, tRTW, QUOR_NS(3.6))
QUOR_KEY(sc_time, tRTW2D, QUOR_NS(3.6))
QUOR_KEY(sc_time, tRTR2D, QUOR_NS(1.6))
QUOR_KEY(sc_time, tAPA, QUOR_NS(1.6))
QUOR_KEY(sc_time, RD_TO_WR_SAME, QUOR_NS(0))
QUOR_KEY(sc_time, RD_TO_WR_DIFF, QUOR_NS(0))
QUOR_KEY(sc_time, WR_TO_RD_SAME, QUOR_NS(0))
QUOR_KEY(sc_time, WR_TO_RD_DIFF, QUOR_NS(0))

// Keys added after the listing above was fixed: they are listed only when set,
// so the listing of a configuration that does not use them stays as it was.
// Includers that do not tell them apart get them as ordinary keys.
#ifndef QUOR_QUIET_KEY
#define QUOR_QUIET_KEY(type, name, def) QUOR_KEY(type, name, def)
#define QUOR_QUIET_KEY_LOCAL
#endif
// Seed of the C generator that draws the generators' seeds; 1 is the C
// library's own starting state, so the default draws what it always drew.
QUOR_QUIET_KEY(unsigned, RANDOM_SEED, 1)
// Machine-readable statistics (JSON) at the end of the run; empty: none.
QUOR_QUIET_KEY(string, STATS_JSON, "")
// Where DRAM_TRACING writes its CSV command trace.
QUOR_QUIET_KEY(string, DRAM_TRACE_FILE, "dram_trace.csv")
// Length of an epoch of the time series in whole ns (a value with a time unit
// is converted exactly); 0: no time series.
QUOR_QUIET_KEY(unsigned, EPOCH_NS, 0)
// Where the time series goes as CSV, one row per epoch.
QUOR_QUIET_KEY(string, EPOCH_FILE, "epochs.csv")
// A progress line on standard error even when it is not a terminal.
QUOR_QUIET_KEY(bool, PROGRESS, false)
// Waveforms of the model's signals as VCD; empty: none.
QUOR_QUIET_KEY(string, VCD_FILE, "")
// Every warning of reading the input (configuration, command line, traces)
// is an error, and the run ends before anything is built.
QUOR_QUIET_KEY(bool, STRICT, false)
// Offered load of each synthetic source in GB/s of request data (reads and
// writes, at the mean size of the PERCENTAGE_* keys); 0: closed loop.
QUOR_QUIET_KEY(float, INJECTION_RATE, 0.0f)
// Inter-arrival times of the offered load: fixed or poisson (exponential).
QUOR_QUIET_KEY(string, INJECTION_PROCESS, "fixed")
// What a trace file holds: auto (its first line says), model (id:,lnk:,...
// lines) or address ("<time> <R|W> <address> [<bytes>]" lines).
QUOR_QUIET_KEY(string, TRACE_FORMAT, "auto")
// When an address trace's requests are sent: timed (at their times) or
// as_fast_as_possible (one after the other, as the host takes them).
QUOR_QUIET_KEY(string, TRACE_TIMING, "timed")
// The statistics file, the time series and their latencies cover the run from
// this time on (a time like SIM_TIME; bare: ns); 0: from the start.
QUOR_QUIET_KEY(sc_time, WARMUP_NS, QUOR_NS(0))
// The cube keeps the bytes written to it and reads return them; off, no data
// moves and nothing is spent on it.
QUOR_QUIET_KEY(bool, STORE_DATA, false)
#ifdef QUOR_QUIET_KEY_LOCAL
#undef QUOR_QUIET_KEY
#undef QUOR_QUIET_KEY_LOCAL
#endif
