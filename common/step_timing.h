// Laps of the engine benchmark (tests/bench_engine.cpp): where one walk's
// time goes, step by step. Only that benchmark's own build of the engine and
// the transport defines VR_STEP_TIMING; everywhere else these are empty.
#pragma once

#ifdef VR_STEP_TIMING

// The steps, in the order a walk meets them. Set-up and clean-up steps come
// once per walk, exchange steps once per exchange; RX_* are the receive
// thread's, timed from the send (they overlap X_WAIT).
enum StepId {
    STEP_IDLE,
    STEP_CLEAR,
    STEP_WSA_STARTUP,
    STEP_PLATFORM,
    STEP_RESOLVE,
    STEP_SNMP_STARTUP,
    STEP_WINDOW_CLASS,
    STEP_WINDOW,
    STEP_OPEN_RECORD,
    STEP_OPEN_SOCKETS,
    STEP_OPEN_EVENTS,
    STEP_OPEN_THREAD,
    STEP_ENTITIES,
    STEP_X_CONVERT,
    STEP_X_CREATE,
    STEP_X_SOCKET,
    STEP_X_ENCODE,
    STEP_X_SENDTO,
    STEP_X_SEND_REST,
    STEP_X_RELEASE_REQUEST,
    STEP_X_TIMER_SET,
    STEP_X_DONE_FETCH,
    STEP_X_WAIT,
    STEP_X_RECV_MSG,
    STEP_X_PDU_DATA,
    STEP_X_DECODE_STORE,
    STEP_X_RELEASE_ANSWER,
    STEP_X_DONE_POST,
    STEP_X_TIMER_KILL,
    STEP_X_LOOP,
    STEP_RX_READ,
    STEP_RX_RECVFROM,
    STEP_RX_DECODE,
    STEP_RX_QUEUE_POST,
    STEP_RX_DELIVERY,
    STEP_C_TEXTS,
    STEP_C_WINDOW,
    STEP_C_HANDLES,
    STEP_C_THREAD_JOIN,
    STEP_C_SESSION_CLOSE,
    STEP_C_SNMP_CLEANUP,
    STEP_C_WSA_CLEANUP,
    STEP_COUNT
};

// The moments one thread stamps and another times from.
enum StepMark { MARK_SENT, MARK_POSTED, MARK_READ_START, MARK_COUNT };

// Adds the time since the calling walk's last lap to the step.
void StepLap(int step);
// Adds the time since the mark to the step (any thread).
void StepSince(int step, int mark);
void StepMarkNow(int mark);
// Adds the time since start (a StepNow value) to the step (any thread).
long long StepNow(void);
void StepAdd(int step, long long start);

#define STEP_LAP(step) StepLap(STEP_##step)
#define STEP_SINCE(step, mark) StepSince(STEP_##step, MARK_##mark)
#define STEP_MARK(mark) StepMarkNow(MARK_##mark)
#define STEP_START(name) long long name = StepNow()
#define STEP_ADD(step, start) StepAdd(STEP_##step, start)

#else

#define STEP_LAP(step) ((void)0)
#define STEP_SINCE(step, mark) ((void)0)
#define STEP_MARK(mark) ((void)0)
#define STEP_START(name) ((void)0)
#define STEP_ADD(step, start) ((void)0)

#endif
