// Fixture: the evaluator header.
#pragma once
