# Loading and saving tests are added here.
