// The 32-bit library called the way its callers call it: every export by name and by
// ordinal through a __stdcall function pointer, with the stack pointer read before the arguments are pushed and after the call returns.
// A callee that does not pop exactly its own arguments (a cdecl export, a wrong argument
// count in the .def) moves it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TestEnv.h"

#if !defined(__i386__)
#error "this test is for the 32-bit build only"
#endif

// int CallCountingStack(const void* fn, const unsigned* args, int count, int* moved)
// Pushes the count arguments (the last first), calls fn, stores in *moved how far the
// stack pointer is after the call from where it was before the pushes (0 when the callee
// popped exactly its arguments), puts it back, and returns fn's result. Written in
// assembly: compiled code restores the stack pointer from the frame pointer, which would
// hide an imbalance.
extern "C" int CallCountingStack(const void* fn, const unsigned* args, int count, int* moved);
asm(R"(
    .text
    .globl _CallCountingStack
_CallCountingStack:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl  12(%ebp), %esi
    movl  16(%ebp), %ecx
    movl  %esp, %edi
1:  testl %ecx, %ecx
    jz    2f
    decl  %ecx
    pushl (%esi,%ecx,4)
    jmp   1b
2:  call  *8(%ebp)
    movl  %esp, %ecx
    subl  %edi, %ecx
    movl  20(%ebp), %edx
    movl  %ecx, (%edx)
    movl  %edi, %esp
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret
)");

namespace {

// A caller-pops function of two arguments: the check must see its imbalance.
extern "C" int __cdecl CallerPops(int a, int b)
{
    return a + b;
}

unsigned Arg(const void* pointer)
{
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(pointer));
}

TEST(StdcallTest, TheCheckSeesACalleeThatLeavesItsArguments)
{
    const unsigned args[] = {2, 3};
    int moved = 0;
    EXPECT_EQ(CallCountingStack(reinterpret_cast<const void*>(&CallerPops), args, 2, &moved), 5);
    EXPECT_EQ(moved, -8);
}

TEST(StdcallTest, EveryExportPopsExactlyItsArguments)
{
    Simulator sim(kSimPort);
    sim.Reset();
    const LinkportApi& lib = Linkport();
    unsigned short ports[32] = {};
    const int listed = lib.ListSerialComm(ports, 32);
    ASSERT_GT(listed, 0);
    unsigned char reply[100] = {};
    const unsigned char frame[6] = {0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD};
    // In an order that gives every call a result showing that its arguments arrived
    // whole: the simulator answers each frame, so the receives have bytes to take.
    const struct {
        const char* name;
        WORD ordinal;
        std::vector<unsigned> args;
        int result;
    } calls[] = {
        {"ListSerialComm", 5, {Arg(ports), 32}, listed},
        {"TestPort", 1, {kSimPort}, 1},
        {"OpenPort", 2, {kSimPort, 9600, 'N', 8, 1}, 1},
        {"senddata", 4, {Arg(frame), 6}, 1},
        {"WaitRecvdata", 7, {Arg(reply), 100, 5}, 1},
        {"WaitRecvdata", 7, {Arg(reply), 4, 5}, 0},
        {"recvdata", 6, {Arg(reply), 5, 500}, 1},
        {"ClosePort", 3, {}, 1},
        {"OpenPort", 2, {17, 9600, 'N', 8, 1}, 0},
    };
    // Should a reply never come, the blocked WaitRecvdata is ended, not waited on forever.
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    TestThread watchdog([&] {
        if (WaitForSingleObject(done, 10000) != WAIT_OBJECT_0)
            lib.ClosePort();
    });
    for (const bool byOrdinal : {false, true}) {
        for (const auto& call : calls) {
            SCOPED_TRACE(std::string(call.name) + (byOrdinal ? " by ordinal" : " by name"));
            // Through the pointer type a caller declares for it.
            const auto pointer = reinterpret_cast<int(__stdcall*)()>(reinterpret_cast<void*>(
                GetProcAddress(lib.module, byOrdinal ? MAKEINTRESOURCEA(call.ordinal) : call.name)));
            ASSERT_NE(pointer, nullptr);
            int moved = -1;
            const int result = CallCountingStack(reinterpret_cast<const void*>(pointer), call.args.data(),
                                                 static_cast<int>(call.args.size()), &moved);
            EXPECT_EQ(moved, 0) << "the stack pointer moved by " << moved << " bytes";
            EXPECT_EQ(result, call.result);
        }
    }
    SetEvent(done);
    EXPECT_TRUE(watchdog.Join(2000));
    CloseHandle(done);
    EXPECT_EQ(reply[0], 0xEA) << "the reply arrived in the caller's buffer";
}

}  // namespace
